// Draws the page's icons (icon-192.png, icon-512.png) into the folder
// given: four voices as bars of a piano roll, in the page's voice colours,
// on its dark ground. PNG written with Node's zlib.
//
//   node make-icons.mjs OUT_DIR
import { deflateSync } from 'node:zlib';
import { writeFileSync } from 'node:fs';
import { join } from 'node:path';

const kGround = [0x10, 0x14, 0x1a];
const kVoices = [[0xff, 0x6b, 0x6b], [0xff, 0xd1, 0x66], [0x06, 0xd6, 0xa0], [0x4c, 0xc9, 0xf0]];
// Each voice's notes: [start, end, height] in 16ths of the icon.
const kNotes = [
  [[2, 6, 3], [6, 10, 4], [10, 14, 3]],
  [[2, 8, 6], [8, 14, 7]],
  [[2, 5, 9], [5, 9, 10], [9, 14, 9]],
  [[2, 14, 12]],
];

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const byte of bytes) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crc32(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}

function icon(size) {
  const unit = size / 16;
  const pixels = Buffer.alloc(size * (size * 3 + 1));
  for (let y = 0; y < size; ++y) {
    pixels[y * (size * 3 + 1)] = 0;  // filter: none
    for (let x = 0; x < size; ++x) {
      let colour = kGround;
      kNotes.forEach((notes, voice) => {
        for (const [start, end, height] of notes) {
          if (x >= start * unit + unit * 0.1 && x < end * unit - unit * 0.1 &&
              y >= height * unit && y < (height + 0.8) * unit) colour = kVoices[voice];
        }
      });
      pixels.set(colour, y * (size * 3 + 1) + 1 + x * 3);
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(size, 0);
  header.writeUInt32BE(size, 4);
  header[8] = 8;  // bits per channel
  header[9] = 2;  // RGB
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), chunk('IHDR', header),
                        chunk('IDAT', deflateSync(pixels)), chunk('IEND', Buffer.alloc(0))]);
}

for (const size of [192, 512]) writeFileSync(join(process.argv[2], `icon-${size}.png`), icon(size));
