// The one reader of AVI chunk bytes for decoding. A packet is a chunk of a stream's index checked
// against the file: its header names the stream, its size is the smaller of the index's and the
// header's (a wrong entry must not take the next chunk's bytes, nor make a sound chunk
// unreadable), and it lies within the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "avicontainer.h"
#include "track.h"  // Packet

class PacketReader {
 public:
  PacketReader(const FileReader& file, int streamNumber)
      : file_(file), streamNumber_(streamNumber) {}

  static constexpr size_t kHeaderBytes = 8;  // a chunk's id and size, before its data
  // Bytes of storage ReadInto needs for a chunk.
  static size_t Room(const AviChunk& chunk, size_t padding) {
    return kHeaderBytes + chunk.size + padding;
  }

  // Bytes of the chunk a read may take after checking its header; 0 when it is damaged.
  uint32_t Check(const AviChunk& chunk) const;
  // Reads the packet into a buffer of the reader's, reused from read to read: out->data is valid
  // until the next Read. False for a damaged chunk.
  bool Read(const AviChunk& chunk, Packet* out, size_t padding = 0);
  // The same into storage of the caller's, Room(chunk, padding) bytes, header and data in one
  // read: a decoder that keeps its input (libavcodec) then takes it without a copy.
  bool ReadInto(const AviChunk& chunk, uint8_t* dst, size_t padding, Packet* out) const;
  // The first n bytes of a chunk that Check found to hold at least n, straight into dst.
  bool ReadFront(const AviChunk& chunk, uint8_t* dst, size_t n) const;

 private:
  uint32_t UsableSize(const uint8_t* head, const AviChunk& chunk) const;

  const FileReader& file_;
  int streamNumber_;             // the stream's number among the file's, as chunk ids name it
  std::vector<uint8_t> buffer_;  // header, packet and padding of the last Read
};
