# selvane_host_library(<name> <source>...): the static library selvane_<name> of a host,
# known to the rest of the build as selvane::<name>, its headers included from host/.
function(selvane_host_library name)
  add_library(selvane_${name} STATIC ${ARGN})
  add_library(selvane::${name} ALIAS selvane_${name})
  target_include_directories(selvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/host)
endfunction()
