# quillbay_add_resources(<target> <list.rc>)
#
# Compiles a resource list with quillbay-rc and links the resulting table
# into the target, so FindResourceA and LoadStringA find its resources.
function(quillbay_add_resources target list)
  get_filename_component(list_path "${list}" ABSOLUTE)
  get_filename_component(list_name "${list}" NAME_WE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_${list_name}_resources.cpp")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND quillbay-rc "${list_path}" "${out}" "${out}.d"
    DEPENDS quillbay-rc "${list_path}"
    DEPFILE "${out}.d"
    COMMENT "Compiling resources ${list_name}"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src/platform")
endfunction()
