// The frame identifiers that ID3v2.2, 2.3 and 2.4 define, and how an
// identifier of one version corresponds to the others.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velotag {

struct ID3v2CatalogueEntry {
  std::string_view FrameID;
  std::string_view Description;
};

// One row of the correspondence table. An empty v24 cell means the same
// identifier as the v23 cell.
struct ID3v2Correspondence {
  std::string_view v22;
  std::string_view v23;
  std::string_view v24;
};

// The catalogue of one version (2, 3 or 4) in table order; empty for any
// other version.
std::span<const ID3v2CatalogueEntry> ID3v2Catalogue(std::int32_t version);
std::span<const ID3v2Correspondence> ID3v2CorrespondenceTable();

// The identifier's description in that version's catalogue (blanks around
// the identifier ignored, letter case too); "" when it is not there.
std::string ID3v2FrameDescription(std::string_view frameID, std::int32_t version);
// The identifier that corresponds in toVersion; "" when none does. Equal
// versions return the identifier as given.
std::string ConvertID3v2FrameID(std::string_view frameID, std::int32_t fromVersion,
                                std::int32_t toVersion);

}  // namespace velotag
