// Declarations shared by the frame source, the viewer and our platform layers: the bitmap
// records and the platform calls the program makes (the AVI file library, the DIB painting
// call, the block move). Each platform layer declares its calls in its own public header; this
// header gathers them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dib.h"  // BITMAPINFOHEADER, BITMAPFILEHEADER, BITMAPINFO, BI_*, DibStride

// ---- AVI file library ------------------------------------------------------------------------

#include "avifile.h"  // platform/avifile: the calls, handles, AVISTREAMINFO, error codes

// ---- Painting --------------------------------------------------------------------------------

#include "gdi.h"  // HDC, SetDIBitsToDevice

// ---- Memory ----------------------------------------------------------------------------------

#include "kernel.h"  // RtlMoveMemory
