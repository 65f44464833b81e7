#pragma once
// Pieces of the generated structure getters and setters, and the field-wise JSON write.
#include <string>

#include "apps/common/event/notify.h"
#include "apps/common/introspection/introspection.h"

// Each appends one field's part ("name": value) of a structure object to out.
void appendIntField(std::string& out, const char* name, const char* address, const char* min, const char* max);
void appendFloatField(std::string& out, const char* name, const char* address, const char* min, const char* max);
void appendBoolField(std::string& out, const char* name, const char* address);
void appendEnumField(std::string& out, const char* name, const char* address, const char* enumName,
                     const char* const* entryNames, unsigned int entryCount);
// capacity: bytes up to the next field; a value without NUL is read up to it.
void appendStringField(std::string& out, const char* name, const char* address, unsigned int capacity);

// Copies a whole structure value bytewise over the target (element b when argument a is 1).
std::string setStructBytes(char* payload, unsigned int mem, unsigned int var, Notify event, const char* value,
                           unsigned int size);

// Writes one field of one element from the last member pair.
std::string setJson(char* payload, unsigned int mem, unsigned int var, Notify event,
                    const Introspection::Members& members);
