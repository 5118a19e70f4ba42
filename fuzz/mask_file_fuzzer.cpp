// The mask-file reader against the lines the file holds: each mask is the
// first twelve bytes of its line in the file's text, stored as read.
#include <string_view>

#include "fuzz_support.h"
#include "rules/rule_files.h"
#include "rules/tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes = BytesOf(data, size);
  std::string path = PutScratchFile("kelvo.TAB", bytes);
  const std::string text = CompanionText(bytes);
  for (PathStyle style : {PathStyle::Windows, PathStyle::Posix}) {
    bool lfEnds = style == PathStyle::Posix;
    MaskList list;
    list.count = 1;  // a stale entry the reader must drop
    LoadMaskFileFrom(path, list, style);

    std::vector<std::string_view> lines = CompanionLines(text, kMaxMasks, lfEnds);
    FUZZ_REQUIRE(list.count >= 0 && list.count <= kMaxMasks);
    FUZZ_REQUIRE(size_t(list.count) == lines.size());
    for (int i = 0; i < list.count; ++i) {
      std::string_view mask = SlotView(list.masks[i]);
      FUZZ_REQUIRE(mask.size() <= kMaskLength);
      FUZZ_REQUIRE(mask.find_first_of(lfEnds ? "\r\n\x1A" : "\r\x1A") == std::string_view::npos);
      FUZZ_REQUIRE(mask == lines[i].substr(0, kMaskLength));
    }
  }
  return 0;
}
