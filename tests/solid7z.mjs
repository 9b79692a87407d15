// Writes a 7-Zip archive of one solid block, stored: each file's bytes
// one after another, then the header.  7-Zip itself starts a new block for
// every stored file, so it cannot make this: reading the last file means
// reading all before it.  files: [{name, size, bytes}]; a file without
// bytes is zeros, left as a hole, so that gigabytes cost no room.
import {closeSync, openSync, writeSync} from 'node:fs';
import {crc32} from 'node:zlib';

// 7-Zip's NUMBER: the first byte's leading ones count the bytes after it.
function number(value) {
	const n = BigInt(value);
	let len = 0;
	while (len < 8 && n >= 1n << BigInt(7 * (len + 1)))
		len++;
	const first = len === 8 ? 0xff :
		Number(n >> BigInt(8 * len)) | ((0xff00 >> len) & 0xff);
	const rest = [];
	for (let i = 0; i < len; i++)
		rest.push(Number((n >> BigInt(8 * i)) & 0xffn));
	return [first, ...rest];
}

export function solid7z(path, files) {
	const total = files.reduce((sum, f) => sum + f.size, 0);
	const names = Buffer.concat(files.map((f) =>
		Buffer.from(`${f.name}\0`, 'utf16le')));
	const header = Buffer.from([
		0x01, 0x04, // the header, its streams
		0x06, ...number(0), ...number(1), 0x09, ...number(total), 0x00,
		// one folder of one coder, Copy
		0x07, 0x0b, ...number(1), 0x00, ...number(1), 0x01, 0x00,
		0x0c, ...number(total), 0x00,
		// a stream for each file in it
		0x08, 0x0d, ...number(files.length), 0x09,
		...files.slice(0, -1).flatMap((f) => number(f.size)), 0x00,
		0x00,
		0x05, ...number(files.length), // the files' names
		0x11, ...number(names.length + 1), 0x00, ...names,
		0x00, 0x00]);
	const start = Buffer.alloc(32);
	Buffer.from('377abcaf271c0004', 'hex').copy(start);
	start.writeBigUInt64LE(BigInt(total), 12);
	start.writeBigUInt64LE(BigInt(header.length), 20);
	start.writeUInt32LE(crc32(header), 28);
	start.writeUInt32LE(crc32(start.subarray(12)), 8);
	const fd = openSync(path, 'w');
	try {
		writeSync(fd, start, 0, start.length, 0);
		let at = start.length;
		for (const f of files) {
			if (f.bytes)
				writeSync(fd, f.bytes, 0, f.bytes.length, at);
			at += f.size;
		}
		writeSync(fd, header, 0, header.length, at);
	} finally {
		closeSync(fd);
	}
}
