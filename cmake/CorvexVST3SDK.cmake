# The VST 3 SDK: interfaces, base library and the public SDK classes the plug-in builds on.
#
# Only sources present both in Debian's subset (juce-modules-source-data) and in a full official
# SDK checkout (3.7.x or later) are compiled, so CORVEX_VST3_SDK_DIR may name either.
#
# Targets:
#   corvex_vst3_sdk          base, pluginterfaces, component/controller/bus/parameter classes
#   corvex_vst3_sdk_hosting  the SDK's host-side helper classes (for test hosts and tools)

set(CORVEX_VST3_SDK_DEFAULT_DIR "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK")
set(CORVEX_VST3_SDK_DIR "${CORVEX_VST3_SDK_DEFAULT_DIR}" CACHE PATH
  "Root of a VST 3 SDK (holding base/, pluginterfaces/ and public.sdk/)")

set(_corvex_sdk_probe
  pluginterfaces/base/funknown.h
  base/source/fobject.cpp
  public.sdk/source/vst/vstcomponent.cpp
  public.sdk/source/vst/vsteditcontroller.cpp)
foreach(_probe IN LISTS _corvex_sdk_probe)
  if(NOT EXISTS "${CORVEX_VST3_SDK_DIR}/${_probe}")
    message(FATAL_ERROR
      "No usable VST 3 SDK at CORVEX_VST3_SDK_DIR='${CORVEX_VST3_SDK_DIR}' (missing ${_probe}).\n"
      "Install the Debian package \"juce-modules-source-data\" (sudo apt-get install "
      "juce-modules-source-data), or point -DCORVEX_VST3_SDK_DIR=<path> at a VST 3 SDK checkout.")
  endif()
endforeach()

if(TARGET corvex_vst3_sdk)
  return()
endif()

find_package(Threads REQUIRED)

set(_sdk "${CORVEX_VST3_SDK_DIR}")
add_library(corvex_vst3_sdk STATIC
  "${_sdk}/base/source/baseiids.cpp"
  "${_sdk}/base/source/fbuffer.cpp"
  "${_sdk}/base/source/fdebug.cpp"
  "${_sdk}/base/source/fobject.cpp"
  "${_sdk}/base/source/fstreamer.cpp"
  "${_sdk}/base/source/fstring.cpp"
  "${_sdk}/base/source/updatehandler.cpp"
  "${_sdk}/base/thread/source/flock.cpp"
  "${_sdk}/pluginterfaces/base/conststringtable.cpp"
  "${_sdk}/pluginterfaces/base/coreiids.cpp"
  "${_sdk}/pluginterfaces/base/funknown.cpp"
  "${_sdk}/pluginterfaces/base/ustring.cpp"
  "${_sdk}/public.sdk/source/common/memorystream.cpp"
  "${_sdk}/public.sdk/source/common/pluginview.cpp"
  "${_sdk}/public.sdk/source/vst/vstbus.cpp"
  "${_sdk}/public.sdk/source/vst/vstcomponent.cpp"
  "${_sdk}/public.sdk/source/vst/vstcomponentbase.cpp"
  "${_sdk}/public.sdk/source/vst/vsteditcontroller.cpp"
  "${_sdk}/public.sdk/source/vst/vstinitiids.cpp"
  "${_sdk}/public.sdk/source/vst/vstparameters.cpp"
  "${_sdk}/public.sdk/source/vst/vstpresetfile.cpp")
# The editor interfaces' identifiers: the SDK's own file where it has one, else ours.
if(EXISTS "${_sdk}/public.sdk/source/common/commoniids.cpp")
  target_sources(corvex_vst3_sdk PRIVATE "${_sdk}/public.sdk/source/common/commoniids.cpp")
else()
  target_sources(corvex_vst3_sdk PRIVATE "${CMAKE_CURRENT_LIST_DIR}/../plugin/vst3/sdk/CommonIids.cpp")
endif()
# Newer SDKs (3.7.3 on) move string conversion into a file of their own that their host classes and
# public classes call, and 3.7.12 on build that on a common converter in a second file;
# the Debian 3.7.2 subset has neither the files nor the calls.
foreach(_newer IN ITEMS public.sdk/source/vst/utility/stringconvert.cpp public.sdk/source/common/commonstringconvert.cpp)
  if(EXISTS "${_sdk}/${_newer}")
    target_sources(corvex_vst3_sdk PRIVATE "${_sdk}/${_newer}")
  endif()
endforeach()
# SYSTEM: the SDK's headers must not trip our own warning set.
target_include_directories(corvex_vst3_sdk SYSTEM PUBLIC "${_sdk}")
target_compile_definitions(corvex_vst3_sdk PUBLIC $<IF:$<CONFIG:Debug>,DEVELOPMENT=1,RELEASE=1>)
target_compile_features(corvex_vst3_sdk PUBLIC cxx_std_17)
set_target_properties(corvex_vst3_sdk PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  POSITION_INDEPENDENT_CODE ON)
if(NOT MSVC)
  target_compile_options(corvex_vst3_sdk PRIVATE -w)
endif()
target_link_libraries(corvex_vst3_sdk PUBLIC Threads::Threads ${CMAKE_DL_LIBS})

add_library(corvex_vst3_sdk_hosting STATIC
  "${_sdk}/public.sdk/source/vst/hosting/hostclasses.cpp"
  "${_sdk}/public.sdk/source/vst/hosting/pluginterfacesupport.cpp")
target_link_libraries(corvex_vst3_sdk_hosting PUBLIC corvex_vst3_sdk)
set_target_properties(corvex_vst3_sdk_hosting PROPERTIES POSITION_INDEPENDENT_CODE ON)
if(NOT MSVC)
  target_compile_options(corvex_vst3_sdk_hosting PRIVATE -w)
endif()

unset(_sdk)
