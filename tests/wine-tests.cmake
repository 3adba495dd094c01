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

# Recordings that end on their own: the camera unplugs while recording; the process ends without a stop.
tovira_wine_test(dll_env_record_unplug dll_tests EnvRecordUnplug.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=sensor TOVIRA_VIRTUAL_UNPLUG_AFTER=30)
tovira_wine_test(dll_env_record_unplug_mjpeg dll_tests EnvRecordUnplugMotionJpeg.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=sensor TOVIRA_VIRTUAL_UNPLUG_AFTER=30)
tovira_wine_test(dll_env_record_exit dll_tests EnvRecordExit.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast)

# A full disk: a 20 MB tmpfs mounted for the tests (they skip where mounting is not allowed).
add_test(NAME full_disk_mount COMMAND /bin/sh ${CMAKE_SOURCE_DIR}/tests/full-disk.sh mount ${CMAKE_BINARY_DIR}/full-disk)
add_test(NAME full_disk_unmount COMMAND /bin/sh ${CMAKE_SOURCE_DIR}/tests/full-disk.sh unmount ${CMAKE_BINARY_DIR}/full-disk)
set_tests_properties(full_disk_mount PROPERTIES FIXTURES_SETUP full_disk)
set_tests_properties(full_disk_unmount PROPERTIES FIXTURES_CLEANUP full_disk)
tovira_wine_test(dll_env_full_disk dll_tests EnvFullDisk.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast
                 TOVIRA_FULL_DISK_DIR=Z:${CMAKE_BINARY_DIR}/full-disk)
set_tests_properties(dll_env_full_disk PROPERTIES FIXTURES_REQUIRED full_disk)

# The large-file layout with a lowered RIFF limit, then FFmpeg counts the frames of the whole file and of
# its first RIFF alone.
tovira_wine_test(dll_env_large_avi dll_tests EnvLargeAvi.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast
                 TOVIRA_TEST_AVI_RIFF_LIMIT=300000 TOVIRA_LARGE_AVI_DIR=Z:${CMAKE_BINARY_DIR}/large-avi)
set_tests_properties(dll_env_large_avi PROPERTIES FIXTURES_SETUP large_avi)
add_test(NAME large_avi_reader COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/avi-frame-count.py ${CMAKE_BINARY_DIR}/large-avi/large.avi ${CMAKE_BINARY_DIR}/large-avi/large.txt)
set_tests_properties(large_avi_reader PROPERTIES FIXTURES_REQUIRED large_avi TIMEOUT 600)
add_test(NAME large_avi_reader_mjpeg COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/avi-frame-count.py ${CMAKE_BINARY_DIR}/large-avi/large-mjpeg.avi ${CMAKE_BINARY_DIR}/large-avi/large-mjpeg.txt)
set_tests_properties(large_avi_reader_mjpeg PROPERTIES FIXTURES_REQUIRED large_avi TIMEOUT 600)

# The full frame at the sensor's own pace: the frame loop polls far faster than frames complete.
tovira_wine_test(dll_env_stream_sensor_pace dll_tests EnvStreamSensorPace.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=sensor)

# A camera lost while callbacks, waits and a recording are busy with it; each in a process of its own.
foreach(suite EnvControlLostRecording EnvControlLostCallback EnvControlLostCapture)
  string(TOLOWER ${suite} entry)
  tovira_wine_test(dll_${entry} dll_tests ${suite}.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=fast TOVIRA_VIRTUAL_UNPLUG_AFTER=15)
endforeach()
tovira_wine_test(dll_env_control_sensor_pace dll_tests EnvControlSensorPace.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=sensor)

# Frame records right after an exposure or gain change, at the sensor's pace (frames that were already
# integrating when the change came).
tovira_wine_test(dll_env_frame_report_sensor_pace dll_tests EnvFrameReportSensorPace.* TOVIRA_VIRTUAL_CAMERAS=0 TOVIRA_VIRTUAL_PACE=sensor)
