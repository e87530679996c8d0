# Checks the layering of the sources: every quoted include of a file in a layer names a header of
# that layer or of a layer it builds on, and only the format adapters and the host side include a
# plug-in SDK. Run as: cmake -DSOURCE_DIR=<repository> -P CorvexLayerCheck.cmake
cmake_minimum_required(VERSION 3.25)

# layer folder | the layers its includes may reach (besides itself)
set(_layers
  "engine|"
  "editor|engine"
  "plugin/common|engine"
  "plugin/vst3|plugin/common,editor,engine"
  "plugin/lv2|plugin/common,editor,engine"
  "host|plugin/common,engine"
  "apps|host,plugin/common,editor,engine")
# The generators beside a format (Generate*.cpp) run on the build machine and write files
# from the tables; they may read files through the host library too.
set(_generator_layers host)
# Layers that may include the VST 3 SDK, and those that may include LV2's headers.
set(_vst3_layers plugin/vst3 host apps)
set(_lv2_layers plugin/lv2)
set(_vst3_pattern "^(pluginterfaces|public\\.sdk|base/source|base/thread)/")
set(_lv2_pattern "^lv2/")

# Which layer each header of the tree lives in, by file name (header names are unique).
set(_header_layer_names)
foreach(_entry IN LISTS _layers)
  string(REPLACE "|" ";" _parts "${_entry}")
  list(GET _parts 0 _layer)
  file(GLOB_RECURSE _headers RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${_layer}/*.h")
  foreach(_header IN LISTS _headers)
    get_filename_component(_name "${_header}" NAME)
    string(MAKE_C_IDENTIFIER "${_name}" _key)
    set(_layer_of_${_key} "${_layer}")
  endforeach()
endforeach()

set(_faults)
foreach(_entry IN LISTS _layers)
  string(REPLACE "|" ";" _parts "${_entry}")
  list(GET _parts 0 _layer)
  list(REMOVE_AT _parts 0)
  string(REPLACE "," ";" _allowed "${_parts}")
  list(APPEND _allowed "${_layer}")
  file(GLOB_RECURSE _sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${_layer}/*.h" "${SOURCE_DIR}/${_layer}/*.cpp")
  foreach(_source IN LISTS _sources)
    set(_reach ${_allowed})
    get_filename_component(_source_name "${_source}" NAME)
    if(_source_name MATCHES "^Generate.*\\.cpp$")
      list(APPEND _reach ${_generator_layers})
    endif()
    file(STRINGS "${SOURCE_DIR}/${_source}" _includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(_line IN LISTS _includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">].*$" "\\1" _include "${_line}")
      if(_include MATCHES "${_vst3_pattern}" AND NOT _layer IN_LIST _vst3_layers)
        list(APPEND _faults "${_source}: includes the VST 3 SDK (${_include})")
      elseif(_include MATCHES "${_lv2_pattern}" AND NOT _layer IN_LIST _lv2_layers)
        list(APPEND _faults "${_source}: includes LV2 (${_include})")
      else()
        get_filename_component(_name "${_include}" NAME)
        string(MAKE_C_IDENTIFIER "${_name}" _key)
        if(DEFINED _layer_of_${_key} AND NOT _layer_of_${_key} IN_LIST _reach)
          list(APPEND _faults "${_source}: includes ${_include} from ${_layer_of_${_key}}")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(_faults)
  list(JOIN _faults "\n  " _report)
  message(FATAL_ERROR "Includes that run against the layering:\n  ${_report}")
endif()
message(STATUS "Every include runs down the layers")
