# Filtered runs of the Windows test programs that need an environment of their own (suites named Env*).
# One line each: tovira_wine_test(<name> <dll_tests|win_tests> <filter> VAR=value ...)
tovira_wine_test(win_env_device_port win_tests EnvDevicePort.* TOVIRA_VIRTUAL_CAMERAS=0,2 TOVIRA_VIRTUAL_PACE=fast TOVIRA_VIRTUAL_UNPLUG_AFTER=3)
tovira_wine_test(dll_env_stream_unplug dll_tests EnvStreamUnplug.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast TOVIRA_VIRTUAL_UNPLUG_AFTER=6)
tovira_wine_test(dll_env_two_cameras dll_tests EnvTwoCameras.* TOVIRA_VIRTUAL_CAMERAS=0,2 TOVIRA_VIRTUAL_PACE=fast)
tovira_wine_test(dll_env_no_camera dll_tests EnvNoCamera.* TOVIRA_VIRTUAL_CAMERAS=none)
tovira_wine_test(dll_env_dialogs_japanese dll_tests EnvDialogJapanese.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast LC_ALL=ja_JP.UTF-8)

# Files written under Wine, then opened on the host by readers that share no code with the SDK.
tovira_wine_test(dll_env_external_files dll_tests EnvExternalFiles.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast
                 TOVIRA_EXTERNAL_FILES_DIR=Z:${CMAKE_BINARY_DIR}/external)
set_tests_properties(dll_env_external_files PROPERTIES FIXTURES_SETUP external_files)
add_test(NAME external_readers COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/external-readers.py ${CMAKE_BINARY_DIR}/external)
set_tests_properties(external_readers PROPERTIES FIXTURES_REQUIRED external_files TIMEOUT 600)

# Every example of README.md and docs/api.md, compiled against the header and import library and run
# against the virtual camera.
add_test(NAME doc_examples COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/doc-examples.py ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(doc_examples PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 900)

# The acquisition extension: waiting when the camera goes away, error texts under a Japanese locale, and
# the log switch writing into the build tree.
tovira_wine_test(dll_env_acquisition_unplug dll_tests EnvAcquisitionUnplug.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast TOVIRA_VIRTUAL_UNPLUG_AFTER=6)
tovira_wine_test(dll_env_error_text_japanese dll_tests EnvErrorTextJapanese.* LC_ALL=ja_JP.UTF-8)
tovira_wine_test(dll_env_acquisition_log dll_tests EnvAcquisitionLog.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast
                 TOVIRA_LOG=Z:${CMAKE_BINARY_DIR}/acquisition-log.txt)
