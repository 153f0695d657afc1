// Who made the program and where it lives, as the start-up banner shows it.
#pragma once

namespace velotag {

inline constexpr const char* kCompany = "Hollowcrag";
inline constexpr const char* kVersionText = VELOTAG_VERSION;
inline constexpr const char* kAuthor = "Hollowcrag";
inline constexpr const char* kEmail = "velotag@hollowcrag.example";
inline constexpr const char* kHomePage = "http://velotag.hollowcrag.example/";
inline constexpr const char* kDownloadPage = "http://velotag.hollowcrag.example/id3";

}  // namespace velotag
