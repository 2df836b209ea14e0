# quillbay_add_resources(<target> <list.rc> [SEARCH dir...] [DEPENDS file...])
#
# Compiles a resource list with quillbay-rc and links the resulting table
# into the target, so FindResourceA and LoadStringA find its resources.
# Files the list names are looked for beside it, then in the SEARCH folders.
function(quillbay_add_resources target list)
  cmake_parse_arguments(RES "" "" "SEARCH;DEPENDS" ${ARGN})
  get_filename_component(list_path "${list}" ABSOLUTE)
  get_filename_component(list_name "${list}" NAME_WE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_${list_name}_resources.cpp")
  set(search_args)
  foreach(dir IN LISTS RES_SEARCH)
    list(APPEND search_args -I "${dir}")
  endforeach()
  add_custom_command(
    OUTPUT "${out}"
    COMMAND quillbay-rc "${list_path}" "${out}" -d "${out}.d" ${search_args}
    DEPENDS quillbay-rc "${list_path}" ${RES_DEPENDS}
    DEPFILE "${out}.d"
    COMMENT "Compiling resources ${list_name}"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src/platform")
endfunction()
