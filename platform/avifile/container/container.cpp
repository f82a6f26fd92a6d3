#include "container.h"

#include <cstring>

#include "avireader.h"
#include "filereader.h"
#include "lavfreader.h"

HRESULT OpenContainer(const std::string& path, std::unique_ptr<Container>* out) {
  auto file = std::make_unique<FileReader>();
  if (!file->Open(path)) return AVIERR_FILEOPEN;
  // AVI stays with our reader, whatever the file is called; everything else goes to libavformat.
  uint8_t head[12];
  if (file->ReadAt(0, head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0 &&
      std::memcmp(head + 8, "AVI ", 4) == 0)
    return OpenAviContainer(std::move(file), out);
  return OpenLavfContainer(std::move(file), out);
}
