# Builds the layer probes of tests/layers: the control probe must compile,
# every other one must fail, and fail for the header it reaches for.
function(build target out_result out_log)
  execute_process(
    COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --target "${target}"
    RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_log} "${log}" PARENT_SCOPE)
endfunction()

build(layer_probe_control result log)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the control probe does not build, so the others prove nothing:\n${log}")
endif()

foreach(probe IN LISTS PROBES)
  string(REPLACE "=" ";" parts "${probe}")
  list(GET parts 0 target)
  list(GET parts 1 header)
  build(${target} result log)
  if(result EQUAL 0)
    message(FATAL_ERROR "${target} compiled: its layer reaches ${header}")
  endif()
  string(FIND "${log}" "${header}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${target} failed, but not on ${header}:\n${log}")
  endif()
  message(STATUS "${target}: refused ${header}")
endforeach()
