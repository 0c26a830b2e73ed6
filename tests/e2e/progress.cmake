# talhost's progress display against a stand-in plug-in that writes the progress file (native).
if(NOT WIN32 AND TARGET talhost)
  add_library(tal_progress_plugin SHARED ${CMAKE_CURRENT_LIST_DIR}/progress_plugin.cpp)
  tal_target_defaults(tal_progress_plugin)
  target_link_libraries(tal_progress_plugin PRIVATE tal_platform)
  set_target_properties(tal_progress_plugin PROPERTIES CXX_VISIBILITY_PRESET hidden)
  tal_add_e2e(progress_display progress_display.sh NEEDS talhost tal_progress_plugin
              ENV TAL_PROGRESS_PLUGIN=$<TARGET_FILE:tal_progress_plugin>)
endif()
