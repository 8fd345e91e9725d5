// Windows-1252 text for the chat wire, both ways, by our own table so that the
// page and the unit tests under Node (whose TextDecoder reads this label as
// Latin-1) agree byte for byte.
//
// Bytes 0x80-0x9F follow the browsers' mapping: the five bytes Windows leaves
// undefined (81, 8D, 8F, 90, 9D) stand for the C1 control of the same number,
// so every byte has a character and every such character its byte again.

const HIGH = [
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
];

const CHARS = Array.from({ length: 256 }, (_, b) =>
    String.fromCharCode(b >= 0x80 && b < 0xA0 ? HIGH[b - 0x80] : b));

const BYTE_OF = new Map(HIGH.map((code, i) => [code, 0x80 + i]));

/** Bytes (Uint8Array or array of numbers) to a string, one character per byte. */
export function decode(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i++) text += CHARS[bytes[i]];
    return text;
}

/** A string to bytes; a character without a byte in the code page becomes '?'. */
export function encode(text) {
    const out = [];
    for (const ch of text) {  // by code point: a surrogate pair is one '?'
        const code = ch.codePointAt(0);
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) out.push(code);
        else out.push(BYTE_OF.get(code) ?? 0x3F);
    }
    return Uint8Array.from(out);
}
