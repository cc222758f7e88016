# nlohmann_json 3.11.3 and no other version, as the interface target
# nlohmann_json::nlohmann_json. The headers come from the PyPI package
# nlohmann-json (a build requirement of the Python build, and installed into
# the development virtual environment), or else from Debian's
# nlohmann-json3-dev under /usr/include. STOWVEX_JSON_INCLUDE_DIR names the
# folder explicitly. Whichever is found, its version macros must say 3.11.3.
set(STOWVEX_JSON_VERSION 3.11.3)
set(STOWVEX_JSON_INCLUDE_DIR "" CACHE PATH "Folder holding nlohmann/json.hpp (searched when empty)")

set(_json_dir "${STOWVEX_JSON_INCLUDE_DIR}")
if(NOT _json_dir AND Python_EXECUTABLE)
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c
            "import importlib.util, os; s = importlib.util.find_spec('nlohmann_json'); print(os.path.join(list(s.submodule_search_locations)[0], 'include'))"
    OUTPUT_VARIABLE _json_dir OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _json_found ERROR_QUIET)
  if(NOT _json_found EQUAL 0 OR NOT EXISTS "${_json_dir}/nlohmann/json.hpp")
    set(_json_dir "")
  endif()
endif()
if(NOT _json_dir AND EXISTS /usr/include/nlohmann/json.hpp)
  set(_json_dir /usr/include)
endif()
if(NOT _json_dir)
  message(FATAL_ERROR "nlohmann_json ${STOWVEX_JSON_VERSION} not found: install the PyPI package "
                      "'nlohmann-json==${STOWVEX_JSON_VERSION}' or set STOWVEX_JSON_INCLUDE_DIR")
endif()

set(_json_version "")
foreach(_part MAJOR MINOR PATCH)
  file(STRINGS "${_json_dir}/nlohmann/detail/abi_macros.hpp" _line
       REGEX "^#define NLOHMANN_JSON_VERSION_${_part} [0-9]+")
  string(REGEX MATCH "[0-9]+" _number "${_line}")
  list(APPEND _json_version "${_number}")
endforeach()
list(JOIN _json_version "." _json_version)
if(NOT _json_version STREQUAL STOWVEX_JSON_VERSION)
  message(FATAL_ERROR "stowvex needs nlohmann_json ${STOWVEX_JSON_VERSION} exactly; "
                      "${_json_dir} holds version '${_json_version}'")
endif()
message(STATUS "nlohmann_json ${_json_version}: ${_json_dir}")

add_library(stowvex_nlohmann_json INTERFACE)
target_include_directories(stowvex_nlohmann_json SYSTEM INTERFACE "${_json_dir}")
add_library(nlohmann_json::nlohmann_json ALIAS stowvex_nlohmann_json)
