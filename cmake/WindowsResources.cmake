# Windows resources of a Verdanox program: a version resource from the
# project version, and optionally the shell's icon group "A" and an
# application manifest.
#   vdx_windows_resources(TARGET DESCRIPTION [ICON file.ico] [MANIFEST])
function(vdx_windows_resources target description)
  cmake_parse_arguments(arg "MANIFEST" "ICON" "" ${ARGN})
  set(VDX_NAME ${target})
  set(VDX_DESCRIPTION "${description}")
  set(VDX_RESOURCES "")
  if(arg_ICON)
    string(APPEND VDX_RESOURCES "A ICON \"${arg_ICON}\"\n")
  endif()
  if(arg_MANIFEST)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest @ONLY)
    string(APPEND VDX_RESOURCES "1 24 \"${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest\"\n")  # RT_MANIFEST
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
