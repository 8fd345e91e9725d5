// The page's Windows-1252 codec, run with `node --test tests/web/`.
import assert from 'node:assert/strict';
import test from 'node:test';

import { decode, encode } from '../../web/cp1252.js';

const all = Uint8Array.from({ length: 256 }, (_, b) => b);

test('every byte decodes to one character and encodes back to itself', () => {
    const text = decode(all);
    assert.equal(text.length, 256);
    assert.deepEqual(encode(text), all);
});

test('text to bytes and back', async (t) => {
    const rows = [
        // text, bytes, decoded again
        ['Grüße €', [0x47, 0x72, 0xFC, 0xDF, 0x65, 0x20, 0x80], null],
        ['„Zitat“ – ok…', [0x84, 0x5A, 0x69, 0x74, 0x61, 0x74, 0x93, 0x20, 0x96, 0x20, 0x6F, 0x6B, 0x85], null],
        ['Œœ Šš Žž Ÿ ƒ ™ ˆ ˜', [0x8C, 0x9C, 0x20, 0x8A, 0x9A, 0x20, 0x8E, 0x9E, 0x20, 0x9F, 0x20, 0x83, 0x20, 0x99, 0x20, 0x88, 0x20, 0x98], null],
        ['\u00A0ÿ\u0000\u0001\u001F', [0xA0, 0xFF, 0x00, 0x01, 0x1F], null],
        // the five bytes the code page leaves free stand for the C1 control of the same number
        ['\u0081\u008D\u008F\u0090\u009D', [0x81, 0x8D, 0x8F, 0x90, 0x9D], null],
        // no byte for these: '?' each, a character outside the BMP included
        ['日本 😀 Ā \u0080 \u0100', [0x3F, 0x3F, 0x20, 0x3F, 0x20, 0x3F, 0x20, 0x3F, 0x20, 0x3F], '?? ? ? ? ?'],
        ['', [], null],
    ];
    for (const [text, bytes, back] of rows) {
        await t.test(JSON.stringify(text), () => {
            assert.deepEqual([...encode(text)], bytes);
            assert.equal(decode(Uint8Array.from(bytes)), back ?? text);
        });
    }
});
