# Runs orvik-host.exe with the extension from a folder that holds no rzxdk08.dll:
# the extension must still be admitted, without menu and module class.
set(dir ${WORK}/without-driver)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
file(COPY ${BIN}/orvik-host.exe ${BIN}/Orvik_qx4.dll DESTINATION ${dir})
execute_process(COMMAND ${RUNNER} ./orvik-host.exe --batch --summary --no-progress --duration 0.1
                WORKING_DIRECTORY ${dir} OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT out MATCHES "admitted" OR NOT out MATCHES "registered no module class")
  message(FATAL_ERROR "the extension was not admitted without its card driver")
endif()
