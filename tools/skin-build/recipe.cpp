#include "recipe.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace kv::skinbuild {

namespace {

constexpr std::uint32_t kMagenta = SkinPixel(255, 0, 255);

class Painter {
public:
    explicit Painter(TSkinBitmap& B) : b_(B) {}

    void put(int x, int y, std::uint32_t c) {
        if (b_.Contains(x, y))
            b_.SetPixel(x, y, c);
    }
    void fill(int x, int y, int w, int h, std::uint32_t c) {
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                put(x + i, y + j, c);
    }
    static std::uint32_t mix(std::uint32_t a, std::uint32_t b, int i, int n) {
        if (n <= 1)
            return a;
        const auto ch = [&](int ca, int cb) { return ca + (cb - ca) * i / (n - 1); };
        return SkinPixel(ch(PixelRed(a), PixelRed(b)), ch(PixelGreen(a), PixelGreen(b)),
                         ch(PixelBlue(a), PixelBlue(b)));
    }
    void vgrad(int x, int y, int w, int h, std::uint32_t a, std::uint32_t c) {
        for (int j = 0; j < h; ++j)
            fill(x, y + j, w, 1, mix(a, c, j, h));
    }
    void hgrad(int x, int y, int w, int h, std::uint32_t a, std::uint32_t c) {
        for (int i = 0; i < w; ++i)
            fill(x + i, y, 1, h, mix(a, c, i, w));
    }
    void frame(int x, int y, int w, int h, std::uint32_t c) {
        fill(x, y, w, 1, c);
        fill(x, y + h - 1, w, 1, c);
        fill(x, y, 1, h, c);
        fill(x + w - 1, y, 1, h, c);
    }
    // Straight, or diagonal at 45 degrees (other slopes step along the longer axis).
    void line(int x1, int y1, int x2, int y2, std::uint32_t c) {
        const int n = std::max(std::abs(x2 - x1), std::abs(y2 - y1));
        for (int i = 0; i <= n; ++i)
            put(n == 0 ? x1 : x1 + (x2 - x1) * i / n, n == 0 ? y1 : y1 + (y2 - y1) * i / n, c);
    }
    void disc(int cx, int cy, int r, std::uint32_t c, int inner) {
        for (int y = (cy - r) / 2 - 1; y <= (cy + r) / 2 + 1; ++y)
            for (int x = (cx - r) / 2 - 1; x <= (cx + r) / 2 + 1; ++x) {
                const int dx = 2 * x + 1 - cx;
                const int dy = 2 * y + 1 - cy;
                const int d = dx * dx + dy * dy;
                if (d <= r * r && (inner < 0 || d > inner * inner))
                    put(x, y, c);
            }
    }
    void check(int x, int y, std::uint32_t c) {
        static const char* rows[7] = {"......#", ".....##", "#...###", "##.###.",
                                      "#####..", ".###...", "..#...."};
        for (int j = 0; j < 7; ++j)
            for (int i = 0; i < 7; ++i)
                if (rows[j][i] == '#')
                    put(x + i, y + j, c);
    }
    void arrow(int x, int y, const std::string& dir, std::uint32_t c) {
        for (int k = 0; k < 4; ++k) {
            const int from = k;
            const int len = 7 - 2 * k;
            if (dir == "down")
                fill(x + from, y + k, len, 1, c);
            else if (dir == "up")
                fill(x + from, y + 3 - k, len, 1, c);
            else if (dir == "right")
                fill(x + k, y + from, 1, len, c);
            else if (dir == "left")
                fill(x + 3 - k, y + from, 1, len, c);
            else
                throw std::runtime_error("unknown arrow direction " + dir);
        }
    }
    void grip(int x, int y, int w, int h, std::uint32_t a, std::uint32_t c) {
        for (int j = 0; j + 1 < h; j += 4)
            for (int i = 0; i + 1 < w; i += 4) {
                put(x + i + 1, y + j + 1, c);
                put(x + i, y + j, a);
            }
    }
    void copy(int sx, int sy, int w, int h, int dx, int dy) {
        std::vector<std::uint32_t> tmp;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                tmp.push_back(b_.Contains(sx + i, sy + j) ? b_.Pixel(sx + i, sy + j) : kMagenta);
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                put(dx + i, dy + j, tmp[static_cast<size_t>(j * w + i)]);
    }

private:
    TSkinBitmap& b_;
};

std::uint32_t parseColor(const std::string& s) {
    if (s == "key")
        return kMagenta;
    if (s.size() != 6 || s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw std::runtime_error("bad colour '" + s + "'");
    const unsigned long v = std::stoul(s, nullptr, 16);
    return SkinPixel(static_cast<int>(v >> 16), static_cast<int>((v >> 8) & 0xFF),
                     static_cast<int>(v & 0xFF));
}

} // namespace

std::vector<std::unique_ptr<TSkinBitmap>> RunRecipes(const std::string& Text,
                                                     const std::string& FileName) {
    std::vector<std::unique_ptr<TSkinBitmap>> out;
    std::istringstream in(Text);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string t; words >> t;)
            w.push_back(t);
        if (w.empty())
            continue;
        try {
            const auto num = [&](size_t i) {
                if (i >= w.size())
                    throw std::runtime_error("missing argument " + std::to_string(i));
                return std::stoi(w[i]);
            };
            const auto col = [&](size_t i) {
                if (i >= w.size())
                    throw std::runtime_error("missing colour");
                return parseColor(w[i]);
            };
            const std::string& op = w[0];
            if (op == "bitmap") {
                if (w.size() != 4)
                    throw std::runtime_error("bitmap NAME W H");
                out.push_back(std::make_unique<TSkinBitmap>(w[1], num(2), num(3), kMagenta));
                continue;
            }
            if (out.empty())
                throw std::runtime_error("drawing before the first bitmap");
            Painter p(*out.back());
            if (op == "fill")
                p.fill(num(1), num(2), num(3), num(4), col(5));
            else if (op == "vgrad")
                p.vgrad(num(1), num(2), num(3), num(4), col(5), col(6));
            else if (op == "hgrad")
                p.hgrad(num(1), num(2), num(3), num(4), col(5), col(6));
            else if (op == "frame")
                p.frame(num(1), num(2), num(3), num(4), col(5));
            else if (op == "hline")
                p.fill(num(1), num(2), num(3), 1, col(4));
            else if (op == "vline")
                p.fill(num(1), num(2), 1, num(3), col(4));
            else if (op == "line")
                p.line(num(1), num(2), num(3), num(4), col(5));
            else if (op == "pixel")
                p.put(num(1), num(2), col(3));
            else if (op == "round") {
                const int x = num(1), y = num(2), wd = num(3), h = num(4);
                for (auto [px, py] : {std::pair{x, y}, std::pair{x + wd - 1, y},
                                      std::pair{x, y + h - 1}, std::pair{x + wd - 1, y + h - 1}})
                    p.put(px, py, kMagenta);
            } else if (op == "disc")
                p.disc(num(1), num(2), num(3), col(4), -1);
            else if (op == "ring")
                p.disc(num(1), num(2), num(3), col(4), num(3) - 2);
            else if (op == "check")
                p.check(num(1), num(2), col(3));
            else if (op == "arrow")
                p.arrow(num(1), num(2), w.at(3), col(4));
            else if (op == "grip")
                p.grip(num(1), num(2), num(3), num(4), col(5), col(6));
            else if (op == "copy")
                p.copy(num(1), num(2), num(3), num(4), num(5), num(6));
            else
                throw std::runtime_error("unknown operation '" + op + "'");
        } catch (const std::exception& e) {
            throw std::runtime_error(FileName + ":" + std::to_string(lineNo) + ": " + e.what());
        }
    }
    return out;
}

} // namespace kv::skinbuild
