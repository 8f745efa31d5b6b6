// Images for the configuration PROM, from the files people have: a raw
// image, an Intel HEX file (.mcs) or a Motorola S-record file (.exo) as the
// vendor's PROM tool writes them (every byte bit-reversed), or a bitstream
// file (.bit) whose data go to the PROM as they are. The image comes out in
// the order the library programs it: each byte as the FPGA must see it,
// most significant bit first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velnor::tools {

// Detect: the format is read from the contents (a .bit header, Intel HEX
// or S-record lines, or raw data that opens with the sync word after 0xFF
// padding); a name ending .bin is taken raw. Raw: the file as it is.
enum class PromFileFormat { Detect, Raw };

// Reads the image. False with a one-line reason on failure, among them a
// file whose format cannot be told.
bool load_prom_image(const std::string& path, PromFileFormat format,
                     std::vector<std::uint8_t>* image, std::string* error);

// The Intel HEX parse alone: data records (00) at their addresses under
// extended segment (02) or linear (04) addresses, up to the end record (01);
// gaps read 0xFF. Every checksum is checked; records that overlap are
// refused. Bytes are returned as stored.
bool parse_intel_hex(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error);

// The S-record parse alone: data records S1/S2/S3 (16-, 24-, 32-bit
// addresses), the header S0 ignored, the count S5 checked, up to the end
// record S7/S8/S9; the same rules as parse_intel_hex otherwise.
bool parse_s_records(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error);

// Whether the configuration data in the image (bitstream order) select the
// JTAG clock as the start-up clock in their COR word. A PROM cannot clock
// such a start-up, so the FPGA never leaves configuration when it loads
// them from the PROM.
bool starts_up_on_jtag_clock(const std::vector<std::uint8_t>& image);

// Pads with 0xFF (the erased value) to a whole number of 512-byte blocks.
void pad_to_blocks(std::vector<std::uint8_t>* image);

}  // namespace velnor::tools
