#include "kelprint/pdf_dates.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnevos::kelprint {
namespace {

// The end of a PDF as cairo 1.16 writes it, starting at byte 1000: the
// information dictionary (object 3), the catalogue (4), the
// cross-references and the trailer.
std::string Tail(const std::string& creation, const std::string& modified) {
  std::string info = "3 0 obj\n<< /Creator (KELPRINT)\n   /CreationDate (" +
                     creation + ")\n   /ModDate (" + modified +
                     ")\n>>\nendobj\n";
  std::string catalogue = "4 0 obj\n<< /Type /Catalog >>\nendobj\n";
  const long long catalogue_at = 1000 + static_cast<long long>(info.size());
  const long long xref_at =
      catalogue_at + static_cast<long long>(catalogue.size());
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", catalogue_at);
  return info + catalogue + "xref\n0 5\n0000000000 65535 f \n" +
         "0000000015 00000 n \n0000000500 00000 n \n0000001000 00000 n \n" +
         entry + "trailer\n<< /Size 5 /Root 4 0 R /Info 3 0 R >>\nstartxref\n" +
         std::to_string(xref_at) + "\n%%EOF\n";
}

TEST(PdfDatesTest, PrefixesGoInAndWhatFollowsMoves) {
  std::string tail = Tail("20261031000000Z", "20261031000000Z");
  const std::string before = tail;
  ASSERT_TRUE(AddPdfDatePrefixes(tail, 1000));
  EXPECT_EQ(tail.size(), before.size() + 4);
  EXPECT_NE(tail.find("/CreationDate (D:20261031000000Z)"), std::string::npos);
  EXPECT_NE(tail.find("/ModDate (D:20261031000000Z)"), std::string::npos);
  // Objects before the dates stay; the catalogue and the table move by 4.
  EXPECT_NE(tail.find("0000000015 00000 n \n0000000500 00000 n \n"
                      "0000001000 00000 n \n"),
            std::string::npos);
  const size_t catalogue = tail.find("4 0 obj");
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", 1000 + catalogue);
  EXPECT_NE(tail.find(entry), std::string::npos) << tail;
  EXPECT_NE(tail.find("startxref\n" +
                      std::to_string(1000 + tail.find("xref\n")) + "\n%%EOF"),
            std::string::npos)
      << tail;
  EXPECT_NE(tail.find("0000000000 65535 f \n"), std::string::npos);

  // Already prefixed, or not a tail laid out as expected: left alone.
  for (std::string other :
       {Tail("D:20261031000000Z", "D:20261031000000Z"),
        Tail("20261031000000Z", "20261031000000Z").substr(0, 100),
        std::string("startxref\n12\n%%EOF\n"), std::string()}) {
    const std::string kept = other;
    EXPECT_FALSE(AddPdfDatePrefixes(other, 1000));
    EXPECT_EQ(other, kept);
  }
  // The table's place must agree with the offset given.
  std::string shifted = Tail("20261031000000Z", "20261031000000Z");
  EXPECT_FALSE(AddPdfDatePrefixes(shifted, 999));
}

}  // namespace
}  // namespace tarnevos::kelprint
