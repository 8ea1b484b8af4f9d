// A vorn_xml_reader over a string, for the XML tests.
#ifndef VIRELAN_TESTS_UNIT_XML_STRING_READER_H
#define VIRELAN_TESTS_UNIT_XML_STRING_READER_H

#include <string>
#include <utility>

#include "xml/xml_reader.h"

class string_reader : public vorn_xml_reader {
 public:
  explicit string_reader(std::string text) : text_(std::move(text)) {}
  int read_byte() override {
    return position_ < text_.size() ? static_cast<unsigned char>(text_[position_++]) : -1;
  }

 private:
  std::string text_;
  std::size_t position_ = 0;
};

#endif  // VIRELAN_TESTS_UNIT_XML_STRING_READER_H
