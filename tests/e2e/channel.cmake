# The channel end to end: talhost and the plug-in against the simulated channel library, with
# the library present, missing, failing to initialise, and behind an old processor.
tal_add_e2e(channel_talhost channel_talhost.sh NEEDS talhost tal_install TalCi sample_package)

# Where the channel library is taken from: a marker library in the current folder or in a folder
# on PATH that anyone can write is never loaded; a PATH folder only the owner can write is used,
# and the log names the file loaded and its version.
if(TARGET TalCi AND NOT TARGET talci_marker)
  add_library(talci_marker SHARED ${CMAKE_CURRENT_LIST_DIR}/marker_talci.c)
  set_target_properties(talci_marker PROPERTIES OUTPUT_NAME TalCi
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/marker
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/marker)
  if(WIN32)
    set_target_properties(talci_marker PROPERTIES PREFIX "")
    target_link_options(talci_marker PRIVATE -static-libgcc)
  endif()
endif()
tal_add_e2e(channel_trusted channel_trusted.sh NEEDS talhost tal_install TalCi talci_marker
            sample_package ENV TAL_MARKER_LIB=$<TARGET_FILE:talci_marker>)
