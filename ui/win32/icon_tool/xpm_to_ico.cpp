// Writes a Windows icon file from pixel maps in XPM form, one image per map,
// each 16 colours (4 bits a pixel) with "None" as the transparent colour.
//   xpm-to-ico OUT.ico IMAGE.xpm [IMAGE.xpm...]
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Rgb {
  std::uint8_t red = 0, green = 0, blue = 0;
};

struct PixelMap {
  int width = 0, height = 0;
  std::vector<Rgb> palette;            // at most 16 colours
  std::vector<int> pixels;             // palette index per pixel, -1 transparent, top row first
};

// The quoted strings of an XPM file, in order.
std::vector<std::string> QuotedStrings(const std::string& text) {
  std::vector<std::string> strings;
  std::size_t at = 0;
  while ((at = text.find('"', at)) != std::string::npos) {
    const std::size_t end = text.find('"', at + 1);
    if (end == std::string::npos) break;
    strings.push_back(text.substr(at + 1, end - at - 1));
    at = end + 1;
  }
  return strings;
}

bool ParseColour(const std::string& entry, Rgb& colour, bool& transparent) {
  // "c #RRGGBB" or "c None"; the visual key "c" is the only one looked at.
  const std::size_t key = entry.find(" c ");
  if (key == std::string::npos) return false;
  std::string value = entry.substr(key + 3);
  while (!value.empty() && value.back() == ' ') value.pop_back();
  if (value == "None" || value == "none") {
    transparent = true;
    return true;
  }
  if (value.size() != 7 || value[0] != '#') return false;
  const unsigned long rgb = std::stoul(value.substr(1), nullptr, 16);
  colour = {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb)};
  transparent = false;
  return true;
}

bool ReadPixelMap(const std::string& path, PixelMap& map, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::vector<std::string> strings = QuotedStrings(buffer.str());
  if (strings.empty()) {
    error = path + ": no XPM data";
    return false;
  }
  int colours = 0, charsPerPixel = 0;
  std::istringstream header(strings[0]);
  header >> map.width >> map.height >> colours >> charsPerPixel;
  if (!header || charsPerPixel != 1 || map.width <= 0 || map.height <= 0 || map.width > 256 ||
      map.height > 256 || strings.size() < static_cast<std::size_t>(1 + colours + map.height)) {
    error = path + ": unsupported XPM header";
    return false;
  }
  std::map<char, int> index;
  for (int i = 0; i < colours; ++i) {
    const std::string& entry = strings[static_cast<std::size_t>(1 + i)];
    Rgb colour;
    bool transparent = false;
    if (entry.empty() || !ParseColour(entry, colour, transparent)) {
      error = path + ": unsupported colour \"" + entry + "\"";
      return false;
    }
    if (transparent) {
      index[entry[0]] = -1;
      continue;
    }
    index[entry[0]] = static_cast<int>(map.palette.size());
    map.palette.push_back(colour);
  }
  if (map.palette.size() > 16) {
    error = path + ": more than 16 colours";
    return false;
  }
  for (int y = 0; y < map.height; ++y) {
    const std::string& row = strings[static_cast<std::size_t>(1 + colours + y)];
    if (row.size() != static_cast<std::size_t>(map.width)) {
      error = path + ": row " + std::to_string(y) + " has the wrong width";
      return false;
    }
    for (char key : row) {
      const auto found = index.find(key);
      if (found == index.end()) {
        error = path + ": unknown colour key in row " + std::to_string(y);
        return false;
      }
      map.pixels.push_back(found->second);
    }
  }
  return true;
}

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// One icon image: a 4-bit device-independent bitmap of twice the height (the
// colour image, then the transparency mask), rows bottom-up, each padded to 4 bytes.
std::vector<std::uint8_t> IconImage(const PixelMap& map) {
  const auto width = static_cast<std::uint32_t>(map.width);
  const auto height = static_cast<std::uint32_t>(map.height);
  const std::uint32_t colourRow = ((width * 4 + 31) / 32) * 4;
  const std::uint32_t maskRow = ((width + 31) / 32) * 4;
  std::vector<std::uint8_t> out;
  Put32(out, 40);  // BITMAPINFOHEADER
  Put32(out, width);
  Put32(out, height * 2);
  Put16(out, 1);  // planes
  Put16(out, 4);  // bits a pixel
  Put32(out, 0);  // no compression
  Put32(out, (colourRow + maskRow) * height);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 16);  // colours used
  Put32(out, 0);
  for (std::size_t i = 0; i < 16; ++i) {
    const Rgb colour = i < map.palette.size() ? map.palette[i] : Rgb{};
    out.insert(out.end(), {colour.blue, colour.green, colour.red, 0});
  }
  for (std::uint32_t y = height; y-- > 0;) {
    std::vector<std::uint8_t> row(colourRow, 0);
    for (std::uint32_t x = 0; x < width; ++x) {
      const int index = map.pixels[y * width + x];
      const auto nibble = static_cast<std::uint8_t>(index < 0 ? 0 : index);
      row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (x % 2 == 0 ? nibble << 4 : nibble));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (std::uint32_t y = height; y-- > 0;) {
    std::vector<std::uint8_t> row(maskRow, 0);
    for (std::uint32_t x = 0; x < width; ++x) {
      if (map.pixels[y * width + x] < 0) row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: xpm-to-ico OUT.ico IMAGE.xpm [IMAGE.xpm...]\n";
    return 2;
  }
  std::vector<PixelMap> maps;
  for (int i = 2; i < argc; ++i) {
    PixelMap map;
    std::string error;
    if (!ReadPixelMap(argv[i], map, error)) {
      std::cerr << "xpm-to-ico: " << error << "\n";
      return 1;
    }
    maps.push_back(std::move(map));
  }
  std::vector<std::vector<std::uint8_t>> images;
  for (const PixelMap& map : maps) images.push_back(IconImage(map));

  std::vector<std::uint8_t> file;
  Put16(file, 0);  // reserved
  Put16(file, 1);  // an icon
  Put16(file, static_cast<unsigned>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    file.push_back(static_cast<std::uint8_t>(maps[i].width == 256 ? 0 : maps[i].width));
    file.push_back(static_cast<std::uint8_t>(maps[i].height == 256 ? 0 : maps[i].height));
    file.push_back(16);  // colours
    file.push_back(0);
    Put16(file, 1);  // planes
    Put16(file, 4);  // bits a pixel
    Put32(file, static_cast<std::uint32_t>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!out) {
    std::cerr << "xpm-to-ico: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
