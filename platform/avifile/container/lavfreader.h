// The container interface over libavformat: any file it recognises whose first video stream
// libavcodec decodes. The first video stream is the file's one stream.
#pragma once

#include <memory>

#include "container.h"
#include "filereader.h"

// AVIERR_OK with *out set; AVIERR_BADFORMAT when libavformat does not recognise the file or it
// has no video stream; AVIERR_USERABORT when the progress callback cancelled; AVIERR_MEMORY.
HRESULT OpenLavfContainer(std::unique_ptr<FileReader> file, std::unique_ptr<Container>* out);
