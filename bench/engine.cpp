// The engine's parse and print alone, without the interpreter, so that the
// instructions they take can be counted apart from CPython's conversions.
//
// Usage: engine FILE OPERATION TIMES
//   parse   parse the file's bytes into a tree
//   loads   check that the bytes are UTF-8, then parse them
//   print   print a tree of the file (parsed beforehand) into a buffer of
//           its size, known from the parse, as to_bytes() prints into a
//           bytes object
//   tokens  list the tokens of a tree of the file (parsed beforehand), as
//           Document.tokens() does before making its tuples
// bench/instructions.py runs each operation TIMES = 1 and TIMES = 0 under
// callgrind and takes the difference.
#include "cst/printer.hpp"
#include "editor/tokens.hpp"
#include "parser/parser.hpp"
#include "parser/utf8.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

quarel::Body parsed(std::string_view source) {
    auto result = quarel::parse(source);
    if (auto* error = std::get_if<quarel::ParseError>(&result)) {
        std::fprintf(stderr, "line %llu: %s\n", static_cast<unsigned long long>(error->line),
                     error->message.c_str());
        std::exit(1);
    }
    return std::move(std::get<quarel::Body>(result));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s FILE parse|loads|print|tokens TIMES\n", argv[0]);
        return 2;
    }
    std::string source = read_file(argv[1]);
    std::string_view operation = argv[2];
    int times = std::atoi(argv[3]);
    std::size_t checksum = 0;
    if (operation == "parse") {
        for (int i = 0; i < times; ++i) checksum += parsed(source).pairs.size();
    } else if (operation == "loads") {
        for (int i = 0; i < times; ++i)
            checksum += quarel::valid_utf8(source) ? parsed(source).pairs.size() : 0;
    } else if (operation == "print") {
        quarel::Body body = parsed(source);
        for (int i = 0; i < times; ++i) {
            std::unique_ptr<char[]> out;
            auto size = quarel::print_body_into(body, source.size(), [&](std::size_t n) {
                out = std::make_unique_for_overwrite<char[]>(n);
                return out.get();
            });
            checksum += size.value_or(0) + static_cast<unsigned char>(out[source.size() / 2]);
        }
    } else if (operation == "tokens") {
        quarel::Body body = parsed(source);
        for (int i = 0; i < times; ++i) {
            std::vector<quarel::Token> tokens;
            quarel::tokens_of(body, tokens);
            checksum += tokens.size();
        }
    } else {
        std::fprintf(stderr, "unknown operation %s\n", argv[2]);
        return 2;
    }
    std::printf("%zu\n", checksum);
}
