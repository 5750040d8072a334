#include "HostFixture.h"

std::vector<UINT> FakeClass::events;
LONG FakeClass::answer[256];
int FakeClass::processCalls;
