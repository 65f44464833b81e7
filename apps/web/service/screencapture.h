#pragma once
// PNG pictures of the page the display shows, encoded straight from the mapped frame buffer.
#include <ostream>
#include <string>

#include "apps/gui/common/fb-linux.h"

class ScreenCapture : public FbLinux {
 public:
  // Maps "/dev/fb0" read-only; throws when the device cannot be used.
  ScreenCapture();
  explicit ScreenCapture(const std::string& device);

  // Encodes the page on display now into out; throws before writing anything when the frame
  // buffer cannot be captured.
  void startWrite(std::ostream& out);
};

std::ostream& operator<<(std::ostream& out, ScreenCapture& capture);
