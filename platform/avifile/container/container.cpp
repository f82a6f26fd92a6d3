#include "container.h"

#include <cstring>

#include "avireader.h"
#include "filereader.h"

HRESULT OpenContainer(const std::string& path, std::unique_ptr<Container>* out) {
  auto file = std::make_unique<FileReader>();
  if (!file->Open(path)) return AVIERR_FILEOPEN;
  return OpenAviContainer(std::move(file), out);
}
