#include "apps/libs/lhwinfo/persistentinfo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <stdexcept>

#include "apps/common/log/log.h"

namespace {
unsigned int byteOf(unsigned int bitPos) { return (bitPos + 7) / 8; }

// Base-10 text to a 32-bit number with the rules of a 32-bit strtoul, on every host: leading blanks,
// one sign, at least one digit, stop at the first non-digit; a magnitude above 32 bits is out of range.
uint32_t toUnsigned32(const char* text) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*p))) throw std::invalid_argument("stoul");
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
    if (magnitude > UINT32_MAX) overflow = true, magnitude = UINT32_MAX + uint64_t{1};
  }
  if (overflow) throw std::out_of_range("stoul");
  auto value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

uint32_t readWord(const unsigned char* at) {
  uint32_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

void writeWord(unsigned char* at, uint32_t word) { std::memcpy(at, &word, sizeof word); }

uint32_t bitMask(unsigned int width) { return width >= 32 ? UINT32_MAX : (uint32_t{1} << width) - 1; }
}  // namespace

uint32_t PersistentInfo::Int::read(const unsigned char* base, unsigned int bitPos) {
  return readWord(base + byteOf(bitPos));
}

void PersistentInfo::Int::write(unsigned char* base, unsigned int bitPos, uint32_t value) {
  writeWord(base + byteOf(bitPos), value);
}

void PersistentInfo::Int::value(const unsigned char* base, unsigned int bitPos, std::string& text) const {
  text = std::to_string(read(base, bitPos));
}

bool PersistentInfo::Int::setValue(unsigned char* base, unsigned int bitPos, const char* text) const {
  write(base, bitPos, toUnsigned32(text));
  return true;
}

void PersistentInfo::String::value(const unsigned char* base, unsigned int bitPos, std::string& text) const {
  // A field without its zero byte is read up to its own end, never into the next field.
  const char* start = reinterpret_cast<const char*>(base + byteOf(bitPos));
  text.assign(start, strnlen(start, length));
}

bool PersistentInfo::String::setValue(unsigned char* base, unsigned int bitPos, const char* text) const {
  size_t textLength = std::strlen(text);
  if (length < 2 || textLength > length - 2) THROW_ERROR("String too long");
  std::memcpy(base + byteOf(bitPos), text, textLength + 1);
  return true;
}

uint32_t PersistentInfo::Bits::read(const unsigned char* base, unsigned int bitPos) const {
  uint32_t word = readWord(base + 4 * (bitPos / 32));
  return (word >> (32 - width - bitPos % 32)) & bitMask(width);
}

void PersistentInfo::Bits::write(unsigned char* base, unsigned int bitPos, uint32_t value) const {
  unsigned char* at = base + 4 * (bitPos / 32);
  unsigned int shift = 32 - width - bitPos % 32;
  uint32_t mask = bitMask(width) << shift;
  writeWord(at, (readWord(at) & ~mask) | ((value << shift) & mask));
}

void PersistentInfo::Bits::value(const unsigned char* base, unsigned int bitPos, std::string& text) const {
  text = std::to_string(read(base, bitPos));
}

bool PersistentInfo::Bits::setValue(unsigned char* base, unsigned int bitPos, const char* text) const {
  write(base, bitPos, toUnsigned32(text));
  return true;
}

PersistentInfo::PersistentInfo(const char* device, unsigned int offset, unsigned int size)
    : device(device), offset(offset), recordSize(size) {
  auto pageSize = static_cast<unsigned int>(sysconf(_SC_PAGESIZE));
  pageOffset = offset % pageSize;
  mapLength = recordSize + pageOffset;
  open();
}

PersistentInfo::~PersistentInfo() {
  if (base != nullptr) munmap(base, mapLength);
  if (descriptor >= 0) ::close(descriptor);
}

void PersistentInfo::open() {
  descriptor = ::open(device, O_RDWR | O_CLOEXEC);
  if (descriptor < 0) THROW_ERROR_NUMBER("open");
  void* mapped =
      mmap(nullptr, mapLength, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, static_cast<off_t>(offset - pageOffset));
  if (mapped == MAP_FAILED) {
    // The constructor throws from here, so no destructor will release the descriptor.
    int error = errno;
    ::close(descriptor);
    descriptor = -1;
    errno = error;
    THROW_ERROR_NUMBER("mmap");
  }
  base = static_cast<unsigned char*>(mapped);
}

void PersistentInfo::addInfo(std::unique_ptr<Base>&& field) {
  unsigned int bitPos = pageOffset * 8;
  for (const auto& f : fields) bitPos += f->bitCount();
  // Every accessor trusts the layout, so a field reaching past the mapped record is refused here.
  uint64_t endBit;
  if (field->kind() == 3) {
    if (bitPos % 32 + field->bitCount() > 32) THROW_ERROR("%s crosses a word boundary", field->name.c_str());
    endBit = uint64_t{bitPos} + field->bitCount();
  } else {
    endBit = uint64_t{byteOf(bitPos)} * 8 + field->bitCount();
  }
  if (endBit > uint64_t{mapLength} * 8) THROW_ERROR("%s does not fit the record", field->name.c_str());
  fields.push_back(std::move(field));
}

unsigned int PersistentInfo::size() const {
  unsigned int bits = 0;
  for (const auto& f : fields) bits += f->bitCount();
  return (bits + 7) / 8;
}

PersistentInfo::Located PersistentInfo::find(const char* name) const {
  unsigned int bitPos = pageOffset * 8;
  for (const auto& f : fields) {
    if (f->name == name) return {f.get(), bitPos};
    bitPos += f->bitCount();
  }
  return {nullptr, 0};
}

PersistentInfo::Located PersistentInfo::findWritable(const char* name, bool allowPrivate) const {
  Located found = find(name);
  if (found.field != nullptr && (found.field->flags & Private) != 0 && !allowPrivate)
    THROW_ERROR("%s is private.", name);
  return found;
}

// A text field has no number; a bit field answers its own bits.
bool PersistentInfo::getNumber(Located found, uint32_t& value) const {
  switch (found.field->kind()) {
    case 1:
      value = Int::read(base, found.bitPos);
      return true;
    case 3:
      value = static_cast<const Bits*>(found.field)->read(base, found.bitPos);
      return true;
    default:
      return false;
  }
}

bool PersistentInfo::setNumber(Located found, uint32_t value) {
  switch (found.field->kind()) {
    case 1:
      Int::write(base, found.bitPos, value);
      return true;
    case 3:
      static_cast<const Bits*>(found.field)->write(base, found.bitPos, value);
      return true;
    default:
      return false;
  }
}

template <>
bool PersistentInfo::get<PersistentInfo::Int, unsigned int>(const char* name, unsigned int& value) const {
  Located found = find(name);
  if (found.field == nullptr) return false;
  uint32_t number;
  if (!getNumber(found, number)) return false;
  value = number;
  return true;
}

template <>
bool PersistentInfo::get<PersistentInfo::Base, std::string>(const char* name, std::string& value) const {
  Located found = find(name);
  if (found.field == nullptr) return false;
  found.field->value(base, found.bitPos, value);
  return true;
}

template <>
bool PersistentInfo::set<PersistentInfo::Int, unsigned int>(const char* name, unsigned int value, bool allowPrivate) {
  Located found = findWritable(name, allowPrivate);
  return found.field != nullptr && setNumber(found, value);
}

template <>
bool PersistentInfo::set<PersistentInfo::Base, char const*>(const char* name, char const* value, bool allowPrivate) {
  Located found = findWritable(name, allowPrivate);
  if (found.field == nullptr) return false;
  return found.field->setValue(base, found.bitPos, value);
}

uint32_t PersistentInfo::checksum(unsigned int length) const {
  if (length < 13) return UINT32_MAX;
  if (length > recordSize) THROW_ERROR("Checksum length %u exceeds the record (%u)", length, recordSize);
  uint32_t crc = UINT32_MAX;
  const unsigned char* bytes = record();
  for (unsigned int i = 12; i < length; ++i) {
    crc ^= uint32_t{bytes[i]} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

void PersistentInfo::setNewMemToDefault(unsigned int from, unsigned int to) const {
  if (to > recordSize) to = recordSize;
  if (from < to) std::memset(record() + from, 0, to - from);
}

void PersistentInfo::clearAll() {
  unsigned int bitPos = pageOffset * 8;
  for (const auto& f : fields) {
    Located located{f.get(), bitPos};
    if (!setNumber(located, 0)) base[byteOf(bitPos)] = 0;
    bitPos += f->bitCount();
  }
}

void PersistentInfo::printAll() {
  unsigned int bitPos = pageOffset * 8;
  for (const auto& f : fields) {
    if ((f->flags & Hidden) == 0) {
      uint32_t number;
      if (getNumber({f.get(), bitPos}, number)) {
        std::printf("%25s: %9u (0x%08x)\n", f->name.c_str(), number, number);
      } else {
        std::string text;
        f->value(base, bitPos, text);
        std::printf("%25s: %s\n", f->name.c_str(), text.c_str());
      }
    }
    bitPos += f->bitCount();
  }
}

void PersistentInfo::printParameters(FILE* stream) const {
  const char* separator = "";
  for (const auto& f : fields) {
    if (f->flags != 0) continue;
    std::fprintf(stream, "%s%s", separator, f->name.c_str());
    separator = " ";
  }
}
