#pragma once

// Reads IPFIX messages (RFC 7011) as a collector would, written apart from
// the exporter: header, template sets, and data records decoded by the
// templates seen so far, each element by its number (enterprise elements
// as 0x8000 | number). Anything malformed is an error, not a guess.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct IpfixRead {
  struct Field {
    std::uint16_t element;
    std::uint16_t length;  // 0xFFFF: variable
    std::uint32_t enterprise;
  };
  using Record = std::map<std::uint16_t, std::vector<std::uint8_t>>;
  struct Message {
    std::size_t size = 0;
    std::uint16_t version = 0;
    std::uint16_t length = 0;
    std::uint32_t exportTime = 0;
    std::uint32_t sequence = 0;
    std::uint32_t domain = 0;
    bool templates = false;
    std::vector<Record> records;
  };

  std::map<std::uint16_t, std::vector<Field>> templates;
  std::string error;  // the first fault found

  static std::uint64_t Number(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) value = value << 8 | byte;
    return value;
  }

  // One message, which must fill `size` bytes exactly.
  Message Read(const std::uint8_t* data, std::size_t size) {
    Message message;
    message.size = size;
    std::size_t at = 0;
    const auto take = [&](std::size_t bytes, std::size_t end) {
      std::uint64_t value = 0;
      if (at + bytes > end) {
        Fail("a field runs past its set or message");
        at = end;
        return value;
      }
      for (std::size_t i = 0; i < bytes; ++i) value = value << 8 | data[at++];
      return value;
    };
    if (size < 16) return Fail("shorter than a header"), message;
    message.version = static_cast<std::uint16_t>(take(2, size));
    message.length = static_cast<std::uint16_t>(take(2, size));
    message.exportTime = static_cast<std::uint32_t>(take(4, size));
    message.sequence = static_cast<std::uint32_t>(take(4, size));
    message.domain = static_cast<std::uint32_t>(take(4, size));
    if (message.length != size) Fail("the length field is not the message's size");
    while (at < size && error.empty()) {
      const std::size_t setStart = at;
      const auto id = static_cast<std::uint16_t>(take(2, size));
      const auto length = static_cast<std::size_t>(take(2, size));
      if (length < 4 || setStart + length > size) return Fail("a set's length is wrong"), message;
      const std::size_t end = setStart + length;
      if (id == 2) {
        message.templates = true;
        while (at + 4 <= end) {
          const auto templateId = static_cast<std::uint16_t>(take(2, end));
          std::vector<Field>& fields = templates[templateId];
          fields.clear();
          for (auto count = take(2, end); count > 0 && error.empty(); --count) {
            Field field{static_cast<std::uint16_t>(take(2, end)), static_cast<std::uint16_t>(take(2, end)), 0};
            if (field.element & 0x8000) field.enterprise = static_cast<std::uint32_t>(take(4, end));
            fields.push_back(field);
          }
        }
      } else if (id >= 256) {
        const auto found = templates.find(id);
        if (found == templates.end()) return Fail("data before its template"), message;
        while (at < end && error.empty()) {
          Record record;
          for (const Field& field : found->second) {
            std::size_t bytes = field.length;
            if (bytes == 0xFFFF) {
              bytes = take(1, end);
              if (bytes == 255) bytes = take(2, end);
            }
            if (at + bytes > end) return Fail("a record runs past its set"), message;
            record[field.element].assign(data + at, data + at + bytes);
            at += bytes;
          }
          message.records.push_back(record);
        }
      } else {
        return Fail("a set id below 256 that is not a template set"), message;
      }
      at = end;
    }
    return message;
  }

 private:
  void Fail(const char* what) {
    if (error.empty()) error = what;
  }
};
