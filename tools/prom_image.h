// Images for the configuration PROM, from the files people have: a raw
// image, an Intel HEX file as the vendor's PROM tool writes it (.mcs, every
// byte bit-reversed), or a bitstream file (.bit) whose data go to the PROM
// as they are. The image comes out in the order the library programs it:
// each byte as the FPGA must see it, most significant bit first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velnor::tools {

// Reads the image, choosing the format by the file's extension (.mcs, .hex,
// .bit, anything else raw). False with a one-line reason on failure.
bool load_prom_image(const std::string& path, std::vector<std::uint8_t>* image, std::string* error);

// The Intel HEX parse alone: data records (00) at their addresses under
// extended linear addresses (04), up to the end record (01); gaps read
// 0xFF. Every record's checksum is checked. Bytes are returned as stored.
bool parse_intel_hex(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error);

// Pads with 0xFF (the erased value) to a whole number of 512-byte blocks.
void pad_to_blocks(std::vector<std::uint8_t>* image);

}  // namespace velnor::tools
