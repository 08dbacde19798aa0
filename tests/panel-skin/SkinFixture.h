// Helpers for the skin tests: a small skin made by the writer, byte-level
// damage inside its layout block, and a private folder to load files from.
#pragma once
#include "SkinWriter.h"
#include <cstdint>
#include <string>
#include <vector>

// Five groups (background, button, row, hidden, backdrop) and five elements
// on a 512-pixel picture.
extern const char kSmallSkin[];

// Writer output for a description; empty (with a test failure) on error.
std::vector<uint8_t> BuildSkinFile(const std::string& description, skinwrite::Skin* skin = nullptr);
// Layout block offsets of the records.
inline int GroupAt(int g, int field) { return 100 + 100 * g + field; }
inline int RecordAt(int e, int field) { return 6500 + 164 * e + field; }
// The file byte that holds layout byte `offset` (rows of the file's width).
uint8_t* LayoutByte(std::vector<uint8_t>& file, int offset);
void PutLayout16(std::vector<uint8_t>& file, int offset, int value);
void PutLayoutName(std::vector<uint8_t>& file, int offset, const std::string& name);
// A folder of this test process, made on first use.
const std::string& SkinTempDir();
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Points gSkinFolder at dir.
void UseSkinFolder(const std::string& dir);
