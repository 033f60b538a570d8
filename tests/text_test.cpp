#include <gtest/gtest.h>

#include "text/gbk_text.h"
#include "web/text_between.h"
#include "web/url.h"

namespace velmora {
namespace {

TEST(FindText, NeverMatchesFromASecondByte) {
  // "中" is D6 D0; the marker "\xD0" + "A"... a byte-wise search would find
  // D0 41 straddling the boundary in "\xD6\xD0" "A".
  EXPECT_EQ(find_text("\xD6\xD0" "A", "\xD0" "A"), npos);
  EXPECT_EQ(find_text("A\xD0" "A", "\xD0" "A"), 1u);
}

}  // namespace
}  // namespace velmora
