// The generated structure getters as the rest of the service sees them, on zeroed payloads: nested
// arrays of structures and one-byte fields, which the hand-checked structures do not have.
#include <gtest/gtest.h>

#include <string>

#include "apps/common/introspection/introspection.h"
#include "apps/common/introspection/testcatalogue.h"

TEST(Catalogue, GeneratedStructureGettersRenderNestedArraysAndByteFields) {
  TestPayloads payloads;
  const RowRef table = findRow("MemLens", "LensTableZoom");
  const std::string lensTable = table.get();
  std::size_t scales = 0;
  for (std::size_t at = lensTable.find("\"ScalePosition\""); at != std::string::npos;
       at = lensTable.find("\"ScalePosition\"", at + 1)) {
    ++scales;
  }
  EXPECT_EQ(scales, 256u);
  EXPECT_NE(lensTable.find("\"LensTableValueList\":[{"), std::string::npos);
  EXPECT_TRUE(lensTable.ends_with("}]}"));

  const RowRef motor = findRow("MemMotors", "ZoomMotor");
  const std::string zoom = motor.get();
  EXPECT_NE(zoom.find("\"GearTeethAct\": {\"max\":\"255\""), std::string::npos) << zoom;
}
