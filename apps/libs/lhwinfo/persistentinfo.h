#pragma once
// Named, typed fields of a small record mapped from a fixed place of a device file.
// The record holds no names: its layout is the order and bit widths of the field list.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class PersistentInfo {
 public:
  static constexpr uint32_t Private = 1;  // written only with allowPrivate
  static constexpr uint32_t Hidden = 2;   // left out of printAll

  class Base {
   public:
    Base(std::string name, uint32_t flags) : name(std::move(name)), flags(flags) {}
    virtual ~Base() = default;
    virtual unsigned int bitCount() const = 0;
    virtual void value(const unsigned char* base, unsigned int bitPos, std::string& text) const = 0;
    virtual bool setValue(unsigned char* base, unsigned int bitPos, const char* text) const = 0;
    virtual unsigned int kind() const { return 0; }

    std::string name;
    uint32_t flags;
  };

  // Unsigned 32-bit number at the next whole byte.
  class Int : public Base {
   public:
    using Base::Base;
    unsigned int bitCount() const override { return 32; }
    void value(const unsigned char* base, unsigned int bitPos, std::string& text) const override;
    bool setValue(unsigned char* base, unsigned int bitPos, const char* text) const override;
    unsigned int kind() const override { return 1; }
    static uint32_t read(const unsigned char* base, unsigned int bitPos);
    static void write(unsigned char* base, unsigned int bitPos, uint32_t value);
  };

  // Zero-terminated text of at most length - 2 characters at the next whole byte.
  class String : public Base {
   public:
    String(std::string name, uint32_t flags, unsigned int length) : Base(std::move(name), flags), length(length) {}
    unsigned int bitCount() const override { return 8 * length; }
    void value(const unsigned char* base, unsigned int bitPos, std::string& text) const override;
    bool setValue(unsigned char* base, unsigned int bitPos, const char* text) const override;

    unsigned int length;
  };

  // width bits of a native 32-bit word, filled from the most significant bit down.
  class Bits : public Base {
   public:
    Bits(std::string name, uint32_t flags, unsigned int width) : Base(std::move(name), flags), width(width) {}
    unsigned int bitCount() const override { return width; }
    void value(const unsigned char* base, unsigned int bitPos, std::string& text) const override;
    bool setValue(unsigned char* base, unsigned int bitPos, const char* text) const override;
    unsigned int kind() const override { return 3; }
    uint32_t read(const unsigned char* base, unsigned int bitPos) const;
    void write(unsigned char* base, unsigned int bitPos, uint32_t value) const;

    unsigned int width;
  };

  PersistentInfo(const char* device, unsigned int offset, unsigned int size);
  ~PersistentInfo();
  PersistentInfo(const PersistentInfo&) = delete;
  PersistentInfo& operator=(const PersistentInfo&) = delete;

  void open();
  void addInfo(std::unique_ptr<Base>&& field);
  unsigned int size() const;

  // Specialised for <Int, unsigned int> and <Base, std::string>.
  template <class Field, class Value>
  bool get(const char* name, Value& value) const;
  // Specialised for <Int, unsigned int> and <Base, char const*>.
  template <class Field, class Value>
  bool set(const char* name, Value value, bool allowPrivate);

  uint32_t checksum(unsigned int length) const;
  void setNewMemToDefault(unsigned int from, unsigned int to) const;
  void clearAll();
  void printAll();
  void printParameters(FILE* stream) const;

 private:
  struct Located {
    const Base* field;
    unsigned int bitPos;
  };
  // First field of that name, or a null field.
  Located find(const char* name) const;
  Located findWritable(const char* name, bool allowPrivate) const;
  bool getNumber(Located found, uint32_t& value) const;
  bool setNumber(Located found, uint32_t value);
  unsigned char* record() const { return base + pageOffset; }

  const char* device;
  unsigned int offset;
  unsigned int recordSize;
  int descriptor = -1;
  unsigned char* base = nullptr;
  unsigned int pageOffset;
  unsigned int mapLength;
  std::vector<std::unique_ptr<const Base>> fields;
};

template <>
bool PersistentInfo::get<PersistentInfo::Int, unsigned int>(const char* name, unsigned int& value) const;
template <>
bool PersistentInfo::get<PersistentInfo::Base, std::string>(const char* name, std::string& value) const;
template <>
bool PersistentInfo::set<PersistentInfo::Int, unsigned int>(const char* name, unsigned int value, bool allowPrivate);
template <>
bool PersistentInfo::set<PersistentInfo::Base, char const*>(const char* name, char const* value, bool allowPrivate);
