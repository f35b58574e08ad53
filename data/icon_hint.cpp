// Build tool: fits the icon drawing to the pixel grid of one size before it is rasterised, so a
// small render keeps every outline at least one whole pixel wide and every straight edge on a
// pixel boundary, as a hand-drawn small icon would, instead of smearing them into half-tones.
// Usage: icon_hint <drawing.svg> <size in pixels> <output.svg>
// The drawing is square (viewBox "0 0 W W"), and its geometry lives in attributes of rect,
// circle and polygon elements; anything else that draws, or a transform, is refused rather than
// passed on unfitted. Rules, in pixels of the target size:
// - a stroke is a whole number of pixels, at least one;
// - a rect's and a circle's outer edges (stroke included) land on pixel boundaries;
// - a polygon's vertices land where its stroke's straight runs cover whole pixels;
// - every coordinate is rounded toward the nearer side of the canvas, so that what the drawing
//   centres stays centred.
// Exit status 0 when the output was written, 1 when the drawing could not be read or fitted or
// the output not written, 2 on a usage error.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

struct Grid {
    double scale = 1;  // pixels per drawing unit
    double size = 1;   // pixels across
};

// Rounds a pixel position toward the nearer side of the canvas at an exact half, measuring from
// that side, with |offset| 0.5 for positions at pixel centres; mirrored shapes stay mirrored.
double snap(const Grid& grid, double pixels, double offset)
{
    const auto roundHalfDown = [](double value) { return std::ceil(value - 0.5); };
    if (pixels <= grid.size / 2)
        return roundHalfDown(pixels - offset) + offset;
    return grid.size - (roundHalfDown(grid.size - pixels - offset) + offset);
}

std::optional<std::string> attribute(const std::string& tag, const std::string& name)
{
    std::smatch match;
    if (std::regex_search(tag, match, std::regex("\\s" + name + "=\"([^\"]*)\"")))
        return match[1].str();
    return std::nullopt;
}

double number(const std::string& tag, const std::string& name)
{
    const auto text = attribute(tag, name);
    if (!text)
        throw std::runtime_error("no " + name + " in " + tag);
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || *end != '\0' || !std::isfinite(value))
        throw std::runtime_error("not a plain number: " + name + "=\"" + *text + "\"");
    return value;
}

std::string format(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// The tag with the value of attribute |name| replaced by |value|.
std::string withAttribute(std::string tag, const std::string& name, const std::string& value)
{
    std::smatch match;
    if (!std::regex_search(tag, match, std::regex("\\s" + name + "=\"([^\"]*)\"")))
        throw std::runtime_error("no " + name + " in " + tag);
    return tag.replace(static_cast<std::size_t>(match.position(1)), static_cast<std::size_t>(match.length(1)), value);
}

std::string withAttribute(const std::string& tag, const std::string& name, double value)
{
    return withAttribute(tag, name, format(value));
}

// A stroked element names its stroke-width: its width in drawing units, 0 without a stroke.
double strokeUnits(const std::string& tag)
{
    const auto stroke = attribute(tag, "stroke");
    return !stroke || *stroke == "none" ? 0 : number(tag, "stroke-width");
}

// The stroke's width in whole pixels: 0 without a stroke, at least 1 with one.
double strokePixels(const std::string& tag, const Grid& grid)
{
    const double units = strokeUnits(tag);
    return units > 0 ? std::max(1.0, std::round(units * grid.scale)) : 0;
}

std::string fitRect(std::string tag, const Grid& grid)
{
    const double stroke = strokePixels(tag, grid);
    const double half = strokeUnits(tag) / 2;
    const double x = number(tag, "x"), y = number(tag, "y");
    const double left = snap(grid, (x - half) * grid.scale, 0);
    const double top = snap(grid, (y - half) * grid.scale, 0);
    const double right = snap(grid, (x + number(tag, "width") + half) * grid.scale, 0);
    const double bottom = snap(grid, (y + number(tag, "height") + half) * grid.scale, 0);
    if (right - left <= stroke || bottom - top <= stroke)
        throw std::runtime_error("a rect vanishes at this size: " + tag);
    tag = withAttribute(tag, "x", (left + stroke / 2) / grid.scale);
    tag = withAttribute(tag, "y", (top + stroke / 2) / grid.scale);
    tag = withAttribute(tag, "width", (right - left - stroke) / grid.scale);
    tag = withAttribute(tag, "height", (bottom - top - stroke) / grid.scale);
    return stroke > 0 ? withAttribute(tag, "stroke-width", stroke / grid.scale) : tag;
}

std::string fitCircle(std::string tag, const Grid& grid)
{
    const double stroke = strokePixels(tag, grid);
    const double outer = number(tag, "r") + strokeUnits(tag) / 2;
    const double diameter = std::max(stroke + 1, std::round(2 * outer * grid.scale));
    const double left = snap(grid, (number(tag, "cx") - outer) * grid.scale, 0);
    const double top = snap(grid, (number(tag, "cy") - outer) * grid.scale, 0);
    tag = withAttribute(tag, "cx", (left + diameter / 2) / grid.scale);
    tag = withAttribute(tag, "cy", (top + diameter / 2) / grid.scale);
    tag = withAttribute(tag, "r", (diameter - stroke) / 2 / grid.scale);
    return stroke > 0 ? withAttribute(tag, "stroke-width", stroke / grid.scale) : tag;
}

// An odd stroke covers whole pixels when its centre line runs through pixel centres.
std::string fitPolygon(std::string tag, const Grid& grid)
{
    const double stroke = strokePixels(tag, grid);
    const double offset = std::fmod(stroke, 2) == 1 ? 0.5 : 0;
    const auto points = attribute(tag, "points");
    if (!points)
        throw std::runtime_error("no points in " + tag);
    // Pairs "x,y" apart by blanks, as the drawing writes them.
    std::string fitted;
    const std::regex coordinate("-?[0-9]*\\.?[0-9]+(e-?[0-9]+)?");
    int index = 0;
    for (auto it = std::sregex_iterator(points->begin(), points->end(), coordinate); it != std::sregex_iterator();
         ++it, ++index) {
        if (index > 0)
            fitted += index % 2 ? "," : " ";
        fitted += format(snap(grid, std::stod(it->str()) * grid.scale, offset) / grid.scale);
    }
    if (index == 0 || index % 2)
        throw std::runtime_error("points are not x,y pairs: " + tag);
    tag = withAttribute(tag, "points", fitted);
    return stroke > 0 ? withAttribute(tag, "stroke-width", stroke / grid.scale) : tag;
}

std::string fit(const std::string& drawing, int size)
{
    std::smatch match;
    if (!std::regex_search(drawing, match, std::regex("viewBox=\"0 0 ([0-9.]+) ([0-9.]+)\"")) || match[1] != match[2])
        throw std::runtime_error("the drawing has no square viewBox \"0 0 W W\"");
    const double units = std::stod(match[1].str());
    const Grid grid{size / units, static_cast<double>(size)};

    std::string output;
    const std::regex element("<([a-zA-Z]+)\\b[^>]*>");
    auto rest = drawing.cbegin();
    for (auto it = std::sregex_iterator(drawing.begin(), drawing.end(), element); it != std::sregex_iterator(); ++it) {
        const std::string tag = it->str();
        const std::string name = (*it)[1].str();
        output.append(rest, drawing.cbegin() + it->position());
        rest = drawing.cbegin() + it->position() + it->length();
        if (attribute(tag, "transform"))
            throw std::runtime_error("a transform cannot be fitted: " + tag);
        if (name == "rect")
            output += fitRect(tag, grid);
        else if (name == "circle")
            output += fitCircle(tag, grid);
        else if (name == "polygon")
            output += fitPolygon(tag, grid);
        else if (name == "svg" || name == "title" || name == "desc" || name == "g")
            output += tag;
        else
            throw std::runtime_error("cannot fit a <" + name + "> to the pixel grid");
    }
    output.append(rest, drawing.cend());
    return output;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <drawing.svg> <size in pixels> <output.svg>\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long size = std::strtol(argv[2], &end, 10);
    if (*end != '\0' || size < 1 || size > 1024) {
        std::fprintf(stderr, "icon_hint: not a size from 1 to 1024: %s\n", argv[2]);
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    std::ostringstream drawing;
    drawing << input.rdbuf();
    if (!input) {
        std::fprintf(stderr, "icon_hint: cannot read %s\n", argv[1]);
        return 1;
    }
    try {
        const std::string fitted = fit(drawing.str(), static_cast<int>(size));
        std::ofstream output(argv[3], std::ios::binary | std::ios::trunc);
        if (!(output << fitted) || !output.flush()) {
            std::fprintf(stderr, "icon_hint: cannot write %s\n", argv[3]);
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "icon_hint: %s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
