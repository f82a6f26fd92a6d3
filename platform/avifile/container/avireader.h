// The container interface over our AVI reader (aviparse and its index).
#pragma once

#include <memory>

#include "avicontainer.h"
#include "container.h"
#include "filereader.h"

// AVIERR_OK with *out set, or AVIERR_BADFORMAT when the file is not a RIFF AVI file with a header
// list. The reader is opened already.
HRESULT OpenAviContainer(std::unique_ptr<FileReader> file, std::unique_ptr<Container>* out);
