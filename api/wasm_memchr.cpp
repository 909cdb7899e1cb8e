// memchr for the WebAssembly module, sixteen bytes at a time. The
// assembler finds every line's end with memchr; the C library's compares a
// byte at a time and took a sixth of an assembly. Defining it here takes
// the place of the library's for the whole module.
#include <wasm_simd128.h>

#include <cstddef>
#include <cstdint>

// Loads are of whole aligned 16-byte blocks, which may reach before the
// first byte and past the last: WebAssembly memory comes in 64 KiB pages,
// so a block that holds one byte of it lies wholly inside it. Matches
// outside the bytes asked about are masked off.
extern "C" void* memchr(const void* source, int wanted, std::size_t size) {
    if (size == 0) return nullptr;
    const auto* first = static_cast<const unsigned char*>(source);
    const std::size_t before = reinterpret_cast<std::uintptr_t>(first) & 15;
    const unsigned char* block = first - before;
    // Bytes from the block's start to the end; callers may pass a size that
    // only bounds the search (strnlen does).
    std::size_t left = size > SIZE_MAX - before ? SIZE_MAX : size + before;
    const v128_t needle = wasm_i8x16_splat(static_cast<std::int8_t>(wanted));
    std::uint32_t found = wasm_i8x16_bitmask(wasm_i8x16_eq(wasm_v128_load(block), needle)) & (0xFFFFu << before);
    while (found == 0) {
        if (left <= 16) return nullptr;
        block += 16;
        left -= 16;
        found = wasm_i8x16_bitmask(wasm_i8x16_eq(wasm_v128_load(block), needle));
    }
    const auto at = static_cast<std::size_t>(__builtin_ctz(found));
    // memchr's signature drops the const, as the C library's does.
    return at < left ? const_cast<unsigned char*>(block + at) : nullptr;
}
