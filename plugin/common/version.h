#pragma once

namespace corvex {

inline constexpr const char* kVendor = "Corvex Audio https://corvex.example.org";
inline constexpr const char* kVendorUrl = "https://corvex.example.org";
inline constexpr const char* kVendorEmail = "mailto:contact@corvex.example.org";

inline constexpr const char* kProcessorName = "Corvex2";
inline constexpr const char* kControllerName = "Corvex2Corvex Controller";
inline constexpr const char* kSubCategories = "Fx|Distortion";
// project(VERSION) in the top CMakeLists.txt, the one place the version is set.
inline constexpr const char* kVersionString = CORVEX_VERSION;
// The interface version the classes declare, kept as first released.
inline constexpr const char* kSdkVersionString = "VST 3.6.5";

} // namespace corvex
