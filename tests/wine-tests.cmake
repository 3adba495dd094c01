# Filtered runs of the Windows test programs that need an environment of their own (suites named Env*).
# One line each: tovira_wine_test(<name> <dll_tests|win_tests> <filter> VAR=value ...)
tovira_wine_test(win_env_device_port win_tests EnvDevicePort.* TOVIRA_VIRTUAL_CAMERAS=0,2 TOVIRA_VIRTUAL_PACE=fast TOVIRA_VIRTUAL_UNPLUG_AFTER=3)
tovira_wine_test(dll_env_stream_unplug dll_tests EnvStreamUnplug.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast TOVIRA_VIRTUAL_UNPLUG_AFTER=6)
tovira_wine_test(dll_env_stream_unplug_restart dll_tests EnvStreamUnplugRestart.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast TOVIRA_VIRTUAL_UNPLUG_AFTER=6)
tovira_wine_test(dll_env_two_cameras dll_tests EnvTwoCameras.* TOVIRA_VIRTUAL_CAMERAS=0,2 TOVIRA_VIRTUAL_PACE=fast)
tovira_wine_test(dll_env_no_camera dll_tests EnvNoCamera.* TOVIRA_VIRTUAL_CAMERAS=none)
tovira_wine_test(dll_env_dialogs_japanese dll_tests EnvDialogJapanese.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast LC_ALL=ja_JP.UTF-8)

# Files written under Wine, then opened on the host by readers that share no code with the SDK.
tovira_wine_test(dll_env_external_files dll_tests EnvExternalFiles.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast
                 TOVIRA_EXTERNAL_FILES_DIR=Z:${CMAKE_BINARY_DIR}/external)
set_tests_properties(dll_env_external_files PROPERTIES FIXTURES_SETUP external_files)
add_test(NAME external_readers COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/external-readers.py ${CMAKE_BINARY_DIR}/external)
set_tests_properties(external_readers PROPERTIES FIXTURES_REQUIRED external_files TIMEOUT 600)
