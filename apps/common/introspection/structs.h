#pragma once
// Pieces of the generated structure getters and setters, and the field-wise JSON write.
#include <source_location>
#include <string>
#include <string_view>

#include "apps/common/event/notify.h"
#include "apps/common/introspection/introspection.h"

// Each appends one field's part ("name": value) of a structure object to out; head is the field's
// constant text up to its value, written out by the catalogue generator.
void appendIntField(std::string& out, std::string_view head, const char* address);
void appendFloatField(std::string& out, std::string_view head, const char* address);
void appendBoolField(std::string& out, std::string_view head, const char* address);
// tail: the enumeration's constant text after the value. An out-of-range value is logged with the
// location of the generated appender that called.
void appendEnumField(std::string& out, std::string_view head, const char* address, const char* enumName,
                     const char* const* entryNames, unsigned int entryCount, std::string_view tail,
                     std::source_location caller = std::source_location::current());
// capacity: bytes up to the next field; a value without NUL is read up to it.
void appendStringField(std::string& out, std::string_view head, const char* address, unsigned int capacity);

// Copies a whole structure value bytewise over the target (element b when argument a is 1);
// answers "Index exceeds limit" and writes nothing when that element lies outside the variable.
std::string setStructBytes(char* payload, unsigned int mem, unsigned int var, Notify event, const char* value,
                           unsigned int size);

// Writes the fields named by the members that follow the variable's own pair (its object), in any order
// beside an "Index" member, into element b. Answers why and writes nothing when b lies outside the variable
// ("Index exceeds limit"; a single structure has only element 0), when a member is neither a field nor
// "Index", when a value does not convert, or when no field is named.
std::string setJson(char* payload, unsigned int mem, unsigned int var, Notify event,
                    const Introspection::Members& members);
