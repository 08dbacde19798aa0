// Reading a hosting page: the control's OBJECT tag and its PARAM tags.
#pragma once
#include <string>
#include <utility>
#include <vector>

struct TPageObject {
    std::string classId;                                     // "{...}" from classid="clsid:{...}", empty when none
    std::vector<std::pair<std::string, std::string>> params; // in page order
};

// The first OBJECT tag whose classid names a class, with the PARAM tags up
// to its closing tag. Tag and attribute names are case-insensitive; values
// may be quoted with " or ' or bare; character references are decoded.
bool Page_FindObject(const std::string& html, TPageObject& out);
