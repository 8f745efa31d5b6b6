#include "json_commands.h"

#include <cstdint>
#include <string>

#include "cli_output.h"
#include "velnor.h"

namespace velnor::tools {
namespace {

std::string quoted(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

// Builds {"key": value, ...} in the order the members are added.
class JsonObject {
 public:
  JsonObject& member(const char* key, const std::string& json) {
    text_ += (text_.empty() ? "{" : ", ") + quoted(key) + ": " + json;
    return *this;
  }
  JsonObject& member(const char* key, std::int64_t number) {
    return member(key, std::to_string(number));
  }
  JsonObject& flag(const char* key, bool value) { return member(key, value ? "true" : "false"); }
  std::string text() const { return text_ + "}"; }

 private:
  std::string text_;
};

JsonObject outcome(const char* command, std::uint32_t result) {
  std::string errors = "[";
  for (const std::string& name : result_name_list(result)) {
    errors += (errors.size() > 1 ? ", " : "") + quoted(name);
  }
  JsonObject object;
  object.member("command", quoted(command)).member("result", result).member("errors", errors + "]");
  return object;
}

int finish(std::FILE* out, const JsonObject& object, const char* command, std::uint32_t result) {
  std::fprintf(out, "%s\n", object.text().c_str());
  return result == VELNOR_OK ? kExitOk : report_failure(command, result);
}

}  // namespace

int scan_json(std::FILE* out) {
  int32_t count = 0;
  const std::uint32_t result = velnor_scan_chain(&count);
  // Without power, or with the cable busy, there was no scan to list.
  const bool scanned = (result & (VELNOR_ERR_POWER_DOWN | VELNOR_BUSY | VELNOR_ERR_PROBE)) == 0;
  std::string devices = "[";
  VelnorChainDevice device;
  for (int32_t index = 0; scanned && velnor_chain_device(index, &device) != 0; ++index) {
    JsonObject entry;
    entry.member("index", index)
        .member("name", device.name[0] != '\0' ? quoted(device.name) : "null")
        .member("idcode", device.idcode)
        .member("ir_length", device.ir_length)
        .member("ir_capture", device.ir_capture);
    devices += (index > 0 ? ", " : "") + entry.text();
  }
  JsonObject object = outcome("scan", result);
  object.member("devices", devices + "]");
  return finish(out, object, "scan", result);
}

int status_json(std::FILE* out) {
  std::uint32_t idcode = 0, status = 0, usercode = 0;
  const std::uint32_t result = velnor_get_status(&idcode, &status, &usercode);
  JsonObject object = outcome("status", result);
  if (result == VELNOR_OK) {
    object.member("idcode", idcode)
        .member("status", status)
        .flag("done", status >> 14 & 1)
        .flag("init", status >> 13 & 1)
        .flag("crc_error", status & 1)
        .member("mode", status >> 10 & 7)
        .member("usercode", usercode);
  }
  return finish(out, object, "status", result);
}

int prom_info_json(std::FILE* out) {
  std::uint32_t idcode = 0, size = 0;
  const std::uint32_t result = velnor_cfgrom_info(&idcode, &size);
  JsonObject object = outcome("prom info", result);
  if (result == VELNOR_OK) {
    // The part's name as the chain scan the PROM was found by gives it.
    std::string name = "null";
    VelnorChainDevice device;
    for (int32_t index = 0; velnor_chain_device(index, &device) != 0; ++index) {
      if (device.idcode == idcode) name = quoted(device.name);
    }
    object.member("part", name).member("idcode", idcode).member("size_bytes", size);
  }
  return finish(out, object, "prom info", result);
}

}  // namespace velnor::tools
