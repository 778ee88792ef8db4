# The program is a stack of layers, one library each: base under records,
# settings and netdisk, those under share, share under the two front ends.
# A layer's headers are reached as "<layer>/<file>.h" through an include root
# of its own: a folder in the build tree that holds one link, <layer> ->
# src/<layer>. A target sees the roots of the layers it links and no others,
# so a layer that includes the header of a layer above it does not compile,
# and the link lists below are the whole of what each layer may use.

# vantorel_layer(TARGET LAYER): gives TARGET the include root of LAYER.
function(vantorel_layer target layer)
  set(root "${PROJECT_BINARY_DIR}/include-roots/${layer}")
  file(MAKE_DIRECTORY "${root}")
  if(NOT EXISTS "${root}/${layer}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${layer}" "${root}/${layer}" SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC "${root}")
endfunction()

# Every library that `target` brings in, directly or through others.
function(vantorel_link_closure target out)
  set(seen "")
  set(queue "${target}")
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${current}")
    if(NOT TARGET "${current}")
      continue()
    endif()
    get_target_property(aliased "${current}" ALIASED_TARGET)
    if(aliased)
      list(APPEND queue "${aliased}")
    endif()
    get_target_property(type "${current}" TYPE)
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct "${current}" LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface "${current}" INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      # $<LINK_ONLY:x> and the like still link x.
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      list(APPEND queue "${link}")
    endforeach()
  endwhile()
  list(REMOVE_ITEM seen "${target}")
  set(${out} "${seen}" PARENT_SCOPE)
endfunction()

# Stops the configure when anything `target` links, however indirectly, is Qt.
function(vantorel_assert_no_qt target)
  vantorel_link_closure(${target} closure)
  foreach(lib IN LISTS closure)
    if(lib MATCHES "Qt")
      message(FATAL_ERROR "${target} links ${lib}: the core must stay free of Qt")
    endif()
  endforeach()
endfunction()
