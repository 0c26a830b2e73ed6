# Flash end-to-end tests (native): talhost, the plug-in and the simulated channel library update
# the sample machine's devices; sleeps are made instant by an LD_PRELOAD shim.
if(NOT WIN32)
  add_library(tal_fastsleep SHARED ${CMAKE_CURRENT_LIST_DIR}/fastsleep.c)
  tal_target_defaults(tal_fastsleep)
  set(_flash_env TAL_FASTSLEEP=$<TARGET_FILE:tal_fastsleep>)
  set(_flash_needs talhost tal_install TalCi talsim fwimage tal_fastsleep)
  foreach(t update failures options report soak)
    tal_add_e2e(flash_${t} flash_${t}.sh NEEDS ${_flash_needs} ENV ${_flash_env})
  endforeach()
  tal_add_e2e(golden_capture golden_capture.sh NEEDS ${_flash_needs} ENV ${_flash_env})
endif()

# A capture recorded and replayed (natively and under wine), replayed with its timing, damaged.
tal_add_e2e(capture_replay capture_replay.sh NEEDS talhost tal_install TalCi talsim sample_package)
