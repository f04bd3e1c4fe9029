#include "x_text_check.h"

#include <set>
#include <string_view>
#include <vector>

#include "windows/scene3d/mesh.h"

namespace {

struct Token {
    enum Kind { Open, Close, String, Word } kind;
    std::string_view text;
    int line;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsSeparator(char c) { return c == ',' || c == ';'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Words end at white space, separators and braces; strings run to their
// closing quote. Separators only separate: the copy writes its own.
bool Tokenize(std::string_view text, std::vector<Token>& tokens, std::string& error)
{
    int line = 1;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\n')
            ++line;
        if (!IsSpace(c) && (c < 0x20 || c > 0x7e)) {
            error = "the mesh file holds a byte that is not text, at line " + std::to_string(line);
            return false;
        }
        if (IsSpace(c) || IsSeparator(c)) {
            ++i;
        } else if (c == '#' || (c == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == '{' || c == '}') {
            tokens.push_back({c == '{' ? Token::Open : Token::Close, text.substr(i++, 1), line});
        } else if (c == '"') {
            const std::size_t end = text.find('"', i + 1);
            if (end == std::string_view::npos) {
                error = "a text in the mesh file has no end, at line " + std::to_string(line);
                return false;
            }
            tokens.push_back({Token::String, text.substr(i + 1, end - i - 1), line});
            for (std::size_t k = i; k < end; ++k)
                line += text[k] == '\n';
            i = end + 1;
        } else {
            const std::size_t start = i;
            while (i < text.size() && !IsSpace(text[i]) && !IsSeparator(text[i]) && text[i] != '{' && text[i] != '}')
                ++i;
            tokens.push_back({Token::Word, text.substr(start, i - start), line});
        }
    }
    return true;
}

bool IsName(std::string_view s)
{
    if (s.empty() || s.size() > 128 || IsDigit(s[0]) || s[0] == '-' || s[0] == '.')
        return false;
    for (const char c : s)
        if (!(IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' || c == '.'))
            return false;
    return true;
}

// A decimal number: [sign] digits [. digits] [e [sign] digits], or [sign] . digits ...
bool IsNumber(std::string_view s)
{
    if (s.empty() || s.size() > 40)
        return false;
    std::size_t i = 0;
    if (s[i] == '-' || s[i] == '+')
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '-' || s[i] == '+'))
            ++i;
        std::size_t exponent = 0;
        while (i < s.size() && IsDigit(s[i]))
            ++i, ++exponent;
        if (exponent == 0)
            return false;
    }
    return i == s.size();
}

class Rewriter {
public:
    explicit Rewriter(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    bool Run(std::string& copy, std::string& error)
    {
        out_ = "xof 0303txt 0032\n";
        bool ok = true;
        while (ok && i_ < t_.size()) {
            const std::string_view word = t_[i_].text;
            if (t_[i_].kind != Token::Word)
                ok = Fail("an object");
            else if (word == "template")
                ok = Template();
            else if (word == "Material")
                ok = Material(true);
            else if (word == "Frame")
                ok = Frame(0);
            else if (word == "Mesh")
                ok = Mesh();
            else
                ok = Unknown();
        }
        if (!ok) {
            error = error_;
            return false;
        }
        copy = std::move(out_);
        return true;
    }

private:
    bool Fail(const char* what)
    {
        if (error_.empty()) {
            const int line = i_ < t_.size() ? t_[i_].line : (t_.empty() ? 1 : t_.back().line);
            error_ = std::string("the mesh file is damaged at line ") + std::to_string(line) + ": " + what +
                     (i_ < t_.size() ? " expected" : " expected before its end");
        }
        return false;
    }
    bool Unknown()
    {
        error_ = "the mesh file holds an object this program does not read (" + std::string(t_[i_].text.substr(0, 40)) +
                 ") at line " + std::to_string(t_[i_].line);
        return false;
    }
    bool At(Token::Kind kind) const { return i_ < t_.size() && t_[i_].kind == kind; }
    bool AtWord(std::string_view w) const { return At(Token::Word) && t_[i_].text == w; }

    // After an object's keyword: an optional name, then "{".
    bool Head(const char* keyword, std::string* name = nullptr)
    {
        ++i_;
        out_ += keyword;
        if (At(Token::Word)) {
            if (!IsName(t_[i_].text))
                return Fail("a name");
            if (name != nullptr)
                *name = t_[i_].text;
            out_ += ' ';
            out_ += t_[i_++].text;
        }
        if (!At(Token::Open))
            return Fail("'{'");
        ++i_;
        out_ += " {\n";
        return true;
    }
    bool Close()
    {
        if (!At(Token::Close))
            return Fail("'}'");
        ++i_;
        out_ += "}\n";
        return true;
    }
    bool Count(std::size_t& v, std::size_t limit, bool emit = true)
    {
        if (!At(Token::Word))
            return Fail("a count");
        const std::string_view s = t_[i_].text;
        v = 0;
        if (s.empty() || s.size() > 10)
            return Fail("a count");
        for (const char c : s) {
            if (!IsDigit(c))
                return Fail("a count");
            v = v * 10 + static_cast<std::size_t>(c - '0');
        }
        if (v > limit)
            return Fail("a smaller count");
        ++i_;
        if (emit) {
            out_ += std::to_string(v);
            out_ += ";\n";
        }
        return true;
    }
    // `n` numbers, written in groups of `group` ("a;b;c;," and ";;" at the
    // end); a lone number (n == 1) is written "a;".
    bool Numbers(std::size_t n, std::size_t group, bool emit = true)
    {
        for (std::size_t k = 0; k < n; ++k) {
            if (!At(Token::Word) || !IsNumber(t_[i_].text))
                return Fail("a number");
            if (emit) {
                out_ += t_[i_].text;
                out_ += ';';
                if (n == 1)
                    out_ += '\n';
                else if ((k + 1) % group == 0)
                    out_ += k + 1 == n ? ";\n" : ",\n";
            }
            ++i_;
        }
        return true;
    }
    bool Index(std::size_t bound, std::size_t& v)
    {
        if (!Count(v, kMaxMeshVertices, false))
            return false;
        if (v >= bound)
            return Fail("an index within its list");
        return true;
    }
    // f faces of indices below `bound`; each face's corner count is kept in
    // `corners`, or, when `match` is given, must equal it.
    bool Faces(std::size_t f, std::size_t bound, std::vector<std::size_t>& corners, bool match)
    {
        if (!match)
            corners.clear();
        for (std::size_t k = 0; k < f; ++k) {
            std::size_t c = 0;
            if (!Count(c, 64, false))
                return false;
            if (c < 3)
                return Fail("a face of three corners or more");
            if (match && c != corners[k])
                return Fail("as many normal corners as the face has");
            if (!match)
                corners.push_back(c);
            out_ += std::to_string(c);
            out_ += ';';
            for (std::size_t j = 0; j < c; ++j) {
                std::size_t v = 0;
                if (!Index(bound, v))
                    return false;
                out_ += std::to_string(v);
                out_ += j + 1 == c ? ";" : ",";
            }
            out_ += k + 1 == f ? ";\n" : ",\n";
        }
        return true;
    }

    bool Template()
    {
        ++i_;
        if (!At(Token::Word) || !IsName(t_[i_].text))
            return Fail("a template name");
        ++i_;
        if (!At(Token::Open))
            return Fail("'{'");
        ++i_;
        while (i_ < t_.size() && t_[i_].kind == Token::Word)
            ++i_;
        if (!At(Token::Close))
            return Fail("'}' closing the template");
        ++i_;
        return true;
    }

    bool Material(bool topLevel)
    {
        std::string name;
        if (!Head("Material", &name) || !Numbers(4, 4) || !Numbers(1, 1) || !Numbers(3, 3) || !Numbers(3, 3))
            return false;
        if (AtWord("TextureFilename") || AtWord("TextureFileName")) {
            if (!Head("TextureFilename"))
                return false;
            if (!At(Token::String) || t_[i_].text.size() > 255 || t_[i_].text.find('\\') != std::string_view::npos)
                return Fail("a texture file name");
            out_ += '"';
            out_ += t_[i_++].text;
            out_ += "\";\n";
            if (!Close())
                return false;
        }
        if (!Close())
            return false;
        if (topLevel && !name.empty())
            materials_.insert(name);
        return true;
    }

    bool Frame(int depth)
    {
        if (depth >= kMaxMeshFrameDepth)
            return Fail("frames nested less deeply");
        if (!Head("Frame"))
            return false;
        bool matrix = false;
        while (!At(Token::Close)) {
            if (AtWord("FrameTransformMatrix") && !matrix) {
                matrix = true;
                if (!Head("FrameTransformMatrix") || !Numbers(16, 16) || !Close())
                    return false;
            } else if (AtWord("Frame")) {
                if (!Frame(depth + 1))
                    return false;
            } else if (AtWord("Mesh")) {
                if (!Mesh())
                    return false;
            } else if (At(Token::Word)) {
                return Unknown();
            } else {
                return Fail("'}' closing the frame");
            }
        }
        return Close();
    }

    bool Mesh()
    {
        std::size_t n = 0, f = 0;
        std::vector<std::size_t> corners;
        if (!Head("Mesh") || !Count(n, kMaxMeshVertices) || !Numbers(3 * n, 3) || !Count(f, kMaxMeshTriangles) ||
            !Faces(f, n, corners, false))
            return false;
        if (n == 0 || f == 0)
            return Fail("a mesh with vertices and faces");
        bool normals = false, coords = false, colours = false, list = false;
        while (!At(Token::Close)) {
            bool ok = true;
            if (AtWord("MeshNormals") && !normals) {
                normals = true;
                std::size_t m = 0, nf = 0;
                ok = Head("MeshNormals") && Count(m, kMaxMeshVertices) && Numbers(3 * m, 3) &&
                     Count(nf, kMaxMeshTriangles) && (nf == f || Fail("a normal face for every face")) &&
                     Faces(nf, m, corners, true) && Close();
            } else if (AtWord("MeshTextureCoords") && !coords) {
                coords = true;
                std::size_t m = 0;
                ok = Head("MeshTextureCoords") && Count(m, kMaxMeshVertices) &&
                     (m == n || Fail("a texture coordinate for every vertex")) && Numbers(2 * m, 2) && Close();
            } else if (AtWord("MeshVertexColors") && !colours) {
                colours = true;
                ok = VertexColours(n);
            } else if (AtWord("MeshMaterialList") && !list) {
                list = true;
                ok = MaterialList(f);
            } else if (At(Token::Word)) {
                return Unknown();
            } else {
                return Fail("'}' closing the mesh");
            }
            if (!ok)
                return false;
        }
        return Close();
    }

    // Read and checked, but not copied: nothing draws vertex colours.
    bool VertexColours(std::size_t n)
    {
        const std::size_t mark = out_.size();
        std::size_t m = 0;
        bool ok = Head("MeshVertexColors") && Count(m, kMaxMeshVertices) && (m <= n || Fail("a smaller count"));
        for (std::size_t k = 0; ok && k < m; ++k) {
            std::size_t v = 0;
            ok = Index(n, v) && Numbers(4, 4, false);
        }
        ok = ok && Close();
        out_.resize(mark);
        return ok;
    }

    bool MaterialList(std::size_t faces)
    {
        std::size_t k = 0, m = 0;
        if (!Head("MeshMaterialList") || !Count(k, kMaxMeshMaterials) || !Count(m, kMaxMeshTriangles))
            return false;
        if (k == 0)
            return Fail("a material");
        if (m != 1 && m != faces)
            return Fail("a material index for one or every face");
        for (std::size_t j = 0; j < m; ++j) {
            std::size_t v = 0;
            if (!Index(k, v))
                return false;
            out_ += std::to_string(v);
            out_ += j + 1 == m ? ";;\n" : ",";
        }
        for (std::size_t j = 0; j < k; ++j) {
            if (AtWord("Material")) {
                if (!Material(false))
                    return false;
            } else if (At(Token::Open)) {
                ++i_;
                if (!At(Token::Word) || !materials_.contains(t_[i_].text))
                    return Fail("the name of a material the file has already given");
                out_ += "{ ";
                out_ += t_[i_++].text;
                out_ += " }\n";
                if (!At(Token::Close))
                    return Fail("'}'");
                ++i_;
            } else {
                return Fail("as many materials as the list names");
            }
        }
        return Close();
    }

    std::vector<Token> t_;
    std::size_t i_ = 0;
    std::string out_;
    std::string error_;
    std::set<std::string, std::less<>> materials_;
};

} // namespace

bool RewriteXText(std::span<const std::uint8_t> text, std::string& copy, std::string& error)
{
    std::vector<Token> tokens;
    if (!Tokenize(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), tokens, error))
        return false;
    return Rewriter(std::move(tokens)).Run(copy, error);
}
