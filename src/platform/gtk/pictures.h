// Pictures embedded into the executable at build time.
#pragma once

#include <cstddef>

namespace platform::gtk {

struct EmbeddedPicture {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};

// Terminated by an entry whose name is nullptr.
extern const EmbeddedPicture kPictures[];

}  // namespace platform::gtk
