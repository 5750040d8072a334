/*
 * The host's side of the lookup protocol: the 59 variable names and the 102
 * function names it knows, and the value it answers for each. Variables the
 * extension uses get real values (instance, menu, the current-module variable,
 * the button bitmaps); the others get addresses of host variables, strings,
 * flags or GDI objects of their own. Functions the extension calls get the
 * services; the 86 it must never call get stubs that journal the call as a
 * violation. A name outside the tables answers 0.
 */
#include "sim/host/HostInternal.h"

#include <cstring>
#include <utility>

#define HOST_VARIABLES 59u
#define HOST_FUNCTIONS 102u
#define DUMMY_BYTES    256u

enum AnswerKind {
    ANSWER_INSTANCE,
    ANSWER_MENU,
    ANSWER_CURRENT_MODULE_PTR,
    ANSWER_CHANNEL_BITMAPS,
    ANSWER_LESSMORE_BITMAPS,
    ANSWER_HOST_VARIABLE, /* address of a zeroed host variable of its own */
    ANSWER_TEXT,          /* address of a host string */
    ANSWER_NUMBER,
    ANSWER_PEN,
    ANSWER_BRUSH,
};

struct VariableRow {
    const char* name;
    AnswerKind kind;
    const char* text; /* ANSWER_TEXT */
    DWORD number;     /* ANSWER_NUMBER; colour for pens and brushes */
};

static const VariableRow kVariables[] = {
    {"hInstOrvik", ANSWER_INSTANCE, nullptr, 0},
    {"MainMenu", ANSWER_MENU, nullptr, 0},
    {"GlobalModuleClass", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&hwndDesk", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&Module", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&ViewModule", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&wNumberOfModules", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&uiHighModuleNumber", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&CurrentModule", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&CurrentModulePtr", ANSWER_CURRENT_MODULE_PTR, nullptr, 0},
    {"uiVersionsTyp", ANSWER_NUMBER, nullptr, 3},
    {"uiDistributorTyp", ANSWER_NUMBER, nullptr, 1},
    {"bDateDayLeadingZero", ANSWER_NUMBER, nullptr, 1},
    {"bDateMonthLeadingZero", ANSWER_NUMBER, nullptr, 1},
    {"bDateYearLong", ANSWER_NUMBER, nullptr, 1},
    {"wDateFormat", ANSWER_NUMBER, nullptr, 2},
    {"bTime24h", ANSWER_NUMBER, nullptr, 1},
    {"bTimeLeadingZero", ANSWER_NUMBER, nullptr, 1},
    {"TimeTrenn", ANSWER_TEXT, ":", 0},
    {"DezTrenn", ANSWER_TEXT, ".", 0},
    {"bDecLeadingZero", ANSWER_NUMBER, nullptr, 1},
    {"DateTrenn", ANSWER_TEXT, "/", 0},
    {"&bDisplayWithoutWnd", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&bPauseIsDisabled", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&LAYER_OutputParam", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&StreamOptionen", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&TempStreamOptionen", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&CJ_Refs", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&CJ_Temp", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"hBitChannel", ANSWER_CHANNEL_BITMAPS, nullptr, 0},
    {"hBitLessMore", ANSWER_LESSMORE_BITMAPS, nullptr, 0},
    {"hDkGrayPen", ANSWER_PEN, nullptr, RGB(64, 64, 64)},
    {"hPipePenRed", ANSWER_PEN, nullptr, RGB(224, 0, 0)},
    {"hPipePenGreen", ANSWER_PEN, nullptr, RGB(0, 160, 0)},
    {"hLightRedBrush", ANSWER_BRUSH, nullptr, RGB(255, 160, 160)},
    {"hGreenBrush", ANSWER_BRUSH, nullptr, RGB(0, 192, 0)},
    {"InitialStartupDir", ANSWER_TEXT, "C:\\Orvik", 0},
    {"ExeFileDir", ANSWER_TEXT, "C:\\Orvik", 0},
    {"NameOfFlowChart", ANSWER_TEXT, "untitled", 0},
    {"FullNameOfFlowChart", ANSWER_TEXT, "C:\\Orvik\\untitled.ows", 0},
    {"ProgFileNameIni", ANSWER_TEXT, "C:\\Orvik\\orvik.ini", 0},
    {"DefStreamingDir", ANSWER_TEXT, "C:\\Orvik\\Stream", 0},
    {"DefFlowchartDir", ANSWER_TEXT, "C:\\Orvik\\Worksheets", 0},
    {"DefDataDir", ANSWER_TEXT, "C:\\Orvik\\Data", 0},
    {"DefDeviceDir", ANSWER_TEXT, "C:\\Orvik\\Devices", 0},
    {"DefUtilityDir", ANSWER_TEXT, "C:\\Orvik\\Utility", 0},
    {"GlobalFlowChartInfo.Author", ANSWER_TEXT, "", 0},
    {"GlobalFlowChartInfo.Company", ANSWER_TEXT, "", 0},
    {"GlobalFlowChartInfo.Department", ANSWER_TEXT, "", 0},
    {"GlobalFlowChartInfo.Title", ANSWER_TEXT, "", 0},
    {"GlobalFlowChartInfo.Info", ANSWER_TEXT, "", 0},
    {"DapSetup", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&ExperimentStartTime", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&StartingTimeTicks", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&SysInfo", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&SysOpt", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&DdeInstance", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&ToolTip", ANSWER_HOST_VARIABLE, nullptr, 0},
    {"&nWindowOrder", ANSWER_HOST_VARIABLE, nullptr, 0},
};

/* The services, by name; every other function name gets a stub. */
struct ServiceRow {
    const char* name;
    DWORD address;
};

static const char* const kFunctions[] = {
    "NewMemAlloc",
    "NewMemReAlloc",
    "NewDoMemFree",
    "DefineDllModule",
    "DefineDllVariable",
    "RegisterModuleClass",
    "PerformDefaultAction",
    "NewReleaseOutputBlock",
    "GetCurrentOutputBlock",
    "GetInputFifo",
    "GetInputBlock",
    "NewReleaseInputBlock",
    "ChangeModuleSize",
    "ChangeModuleName",
    "ChangeNameInString",
    "SendModuleMessage",
    "SendModChanMessage",
    "CopyChannelName",
    "FillUnitList",
    "MODUL_InitAll",
    "MODUL_DestroyAll",
    "InitMatrixNew",
    "ShowWarning",
    "EnableAllWindows",
    "ShowInternalError",
    "StopExperiment",
    "PauseExperiment",
    "CurrentExperimentTime",
    "DispatchQueuedMessages",
    "BBox_FullEnter",
    "BBox_FullLeave",
    "BBox_LightEnter",
    "BBox_LightLeave",
    "CreateSatellite",
    "UpdateSatellite",
    "RemoveUselessSatellites",
    "CreateStackedPen",
    "CreateStackedPenIndirect",
    "CreateStackedFontIndirect",
    "CreateStackedSolidBrush",
    "CreateStackedBrushIndirect",
    "DeleteStackedObject",
    "do_fft",
    "EditText",
    "LoadInterpolationTable",
    "LoadTableFromFile",
    "SearchForFileToLoad",
    "DoesFileExistAndMsg",
    "AskForFilenameChange",
    "CheckCreateDir",
    "InitPrinter",
    "PrintHeader",
    "ExitPrinter",
    "PrintFooter",
    "NextPage",
    "CheckedCreateFile",
    "CheckedOpenFile",
    "CreateAndShowToolTipWindow",
    "SendPanelMessage",
    "GlStr_RegisterByText",
    "GlStr_UnregisterByText",
    "ExpandString",
    "ExpandStringNumber",
    "ExpandVarNumber",
    "ExpandUnitString",
    "ExpandUnit",
    "GlStr_RegisterByNumber",
    "GlStr_UnregisterByNumber",
    "GlStr_Set",
    "GlStr_Get",
    "GlStr_PrefixGet",
    "GlVar_RegisterByNumber",
    "GlVar_UnregisterByNumber",
    "GlVar_Set",
    "GlVar_Get",
    "GlVar_PrefixGet",
    "GlVar_VarStringGet",
    "GlVar_SetSyntax",
    "GlStr_SetSyntax",
    "SetMenuForGlobalStrings",
    "SetMenuForGlobalVars",
    "DeleteMenuForGlobalStrings",
    "DeleteMenuForGlobalVars",
    "ShowVarsAndSelect",
    "DsbHasChanged",
    "RegisterMenuEntry",
    "RegisterExtraMemory",
    "FindModuleByName",
    "AddExtMemInstance",
    "RemoveExtMemInstance",
    "RegisterNewWorksheetNotification",
    "RegisterTimeBase",
    "UnregisterTimeBase",
    "SetTimeBase",
    "SetTimeBaseTime",
    "IncTimeBaseTime",
    "GetTimeBaseBlockSize",
    "GetTimeBaseSampleDistance",
    "GetTimeBaseTime",
    "FillTimeBaseCombo",
    "GetTimeBaseComboID",
    "TimeBaseDialog",
};

static_assert(sizeof kVariables / sizeof kVariables[0] == HOST_VARIABLES, "59 variable names");
static_assert(sizeof kFunctions / sizeof kFunctions[0] == HOST_FUNCTIONS, "102 function names");

static const ServiceRow kServices[] = {
    {"NewMemAlloc", reinterpret_cast<DWORD>(&Host_NewMemAlloc)},
    {"NewDoMemFree", reinterpret_cast<DWORD>(&Host_NewDoMemFree)},
    {"DefineDllModule", reinterpret_cast<DWORD>(&Host_DefineDllModule)},
    {"DefineDllVariable", reinterpret_cast<DWORD>(&Host_DefineDllVariable)},
    {"RegisterModuleClass", reinterpret_cast<DWORD>(&Host_RegisterModuleClass)},
    {"PerformDefaultAction", reinterpret_cast<DWORD>(&Host_PerformDefaultAction)},
    {"NewReleaseOutputBlock", reinterpret_cast<DWORD>(&Host_NewReleaseOutputBlock)},
    {"GetCurrentOutputBlock", reinterpret_cast<DWORD>(&Host_GetCurrentOutputBlock)},
    {"GetInputBlock", reinterpret_cast<DWORD>(&Host_GetInputBlock)},
    {"NewReleaseInputBlock", reinterpret_cast<DWORD>(&Host_NewReleaseInputBlock)},
    {"ChangeModuleSize", reinterpret_cast<DWORD>(&Host_ChangeModuleSize)},
    {"ShowWarning", reinterpret_cast<DWORD>(&Host_ShowWarning)},
    {"StopExperiment", reinterpret_cast<DWORD>(&Host_StopExperiment)},
    {"CreateStackedFontIndirect", reinterpret_cast<DWORD>(&Host_CreateStackedFontIndirect)},
    {"DeleteStackedObject", reinterpret_cast<DWORD>(&Host_DeleteStackedObject)},
    {"RegisterMenuEntry", reinterpret_cast<DWORD>(&Host_RegisterMenuEntry)},
};
static_assert(sizeof kServices / sizeof kServices[0] == 16, "sixteen services");

/* A function the extension must never call. It cannot know the caller's
   arguments, so it only records the call and answers 0. */
template <unsigned N> static LONG WINAPI NeverCalled(void) {
    JournalViolation("host function \"%s\" called, which the extension must never call",
                     kFunctions[N]);
    return 0;
}

template <size_t... I> static const DWORD* StubAddresses(std::index_sequence<I...>) {
    static const DWORD stubs[] = {reinterpret_cast<DWORD>(&NeverCalled<I>)...};
    return stubs;
}

static DWORD s_variableAnswers[HOST_VARIABLES];
static DWORD s_functionAnswers[HOST_FUNCTIONS];
static BYTE s_hostVariables[HOST_VARIABLES][DUMMY_BYTES];
static HGDIOBJ s_gdiObjects[HOST_VARIABLES];

static DWORD ServiceAddress(const char* name) {
    for (size_t i = 0; i < sizeof kServices / sizeof kServices[0]; ++i) {
        if (std::strcmp(kServices[i].name, name) == 0) {
            return kServices[i].address;
        }
    }
    return 0;
}

static DWORD VariableAnswer(unsigned i, HINSTANCE instance, HMENU menu) {
    const VariableRow& row = kVariables[i];
    switch (row.kind) {
    case ANSWER_INSTANCE:
        return reinterpret_cast<DWORD>(instance);
    case ANSWER_MENU:
        return reinterpret_cast<DWORD>(menu);
    case ANSWER_CURRENT_MODULE_PTR:
        return reinterpret_cast<DWORD>(CurrentModulePtrAddress());
    case ANSWER_CHANNEL_BITMAPS:
        return reinterpret_cast<DWORD>(ChannelBitmapArray());
    case ANSWER_LESSMORE_BITMAPS:
        return reinterpret_cast<DWORD>(LessMoreBitmapArray());
    case ANSWER_HOST_VARIABLE:
        return reinterpret_cast<DWORD>(s_hostVariables[i]);
    case ANSWER_TEXT:
        return reinterpret_cast<DWORD>(row.text);
    case ANSWER_NUMBER:
        return row.number;
    case ANSWER_PEN:
        s_gdiObjects[i] = CreatePen(PS_SOLID, 1, row.number);
        return reinterpret_cast<DWORD>(s_gdiObjects[i]);
    case ANSWER_BRUSH:
        s_gdiObjects[i] = CreateSolidBrush(row.number);
        return reinterpret_cast<DWORD>(s_gdiObjects[i]);
    }
    return 0;
}

void BuildLookupAnswers(HINSTANCE instance, HMENU menu) {
    ReleaseLookupObjects();
    std::memset(s_hostVariables, 0, sizeof s_hostVariables);
    for (unsigned i = 0; i < HOST_VARIABLES; ++i) {
        s_variableAnswers[i] = VariableAnswer(i, instance, menu);
    }
    const DWORD* stubs = StubAddresses(std::make_index_sequence<HOST_FUNCTIONS>());
    for (unsigned i = 0; i < HOST_FUNCTIONS; ++i) {
        DWORD service = ServiceAddress(kFunctions[i]);
        s_functionAnswers[i] = service ? service : stubs[i];
    }
}

void ReleaseLookupObjects(void) {
    for (unsigned i = 0; i < HOST_VARIABLES; ++i) {
        if (s_gdiObjects[i]) {
            DeleteObject(s_gdiObjects[i]);
            s_gdiObjects[i] = nullptr;
        }
    }
}

LRESULT AnswerVariable(const char* name) {
    for (unsigned i = 0; i < HOST_VARIABLES; ++i) {
        if (std::strcmp(kVariables[i].name, name) == 0) {
            return static_cast<LRESULT>(s_variableAnswers[i]);
        }
    }
    return 0;
}

LRESULT AnswerFunction(const char* name) {
    for (unsigned i = 0; i < HOST_FUNCTIONS; ++i) {
        if (std::strcmp(kFunctions[i], name) == 0) {
            return static_cast<LRESULT>(s_functionAnswers[i]);
        }
    }
    return 0;
}

unsigned RefHost_VariableNameCount(void) {
    return HOST_VARIABLES;
}

const char* RefHost_VariableName(unsigned i) {
    return i < HOST_VARIABLES ? kVariables[i].name : nullptr;
}

unsigned RefHost_FunctionNameCount(void) {
    return HOST_FUNCTIONS;
}

const char* RefHost_FunctionName(unsigned i) {
    return i < HOST_FUNCTIONS ? kFunctions[i] : nullptr;
}
