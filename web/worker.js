// The page's worker: 7-Zip, and tovrin-fw's locator with tovrin-fw-install's
// rules, away from the page so that it answers throughout.  It reads the
// chosen file where it lies where the browser lets a worker read it;
// elsewhere the page hands it over in chunks.  It lists the package, and
// the rules say which drivers to unpack and what to say; it unpacks
// those, and the rules judge what the locator made of them.  SevenZip,
// 7-Zip's module, comes from the script that the build puts before this.
/* global SevenZip, FileReaderSync */
'use strict';

// Where the worker cannot read the file, it is copied whole: no further.
const COPY_MAX = 1024 * 1024 * 1024;

let code; // the compiled modules, {sevenZip, locator}, from the page
let chunk; // takes the page's next chunk while the file is copied
let fw; // the instance of the locator and the rules
let MAX; // the largest a driver may be, by the rules

const post = (message, transfer) => postMessage(message, transfer || []);
// What the page says, as [format, ...args]: the page puts it in the
// reader's language; an argument may be such a message itself.
const m = (format, ...args) => [format, ...args];
// A message with a count: its form is chosen by the count, COUNT, in the
// reader's language.
const np = (singular, plural, count, ...args) =>
	[[singular, plural], count, ...args];
// A line of the rules' words, {f, p, n, a}, as such a message.
const words = (l) => (l.p ? [[l.f, l.p], l.n, ...l.a] : [l.f, ...l.a]);

// Progress, at most ten times a second.
let shown = 0;
function step(text, value, max, now) {
	if (!now && Date.now() - shown < 100)
		return;
	shown = Date.now();
	post({step: text, value, max});
}

// Whether this browser lets a worker read the file where it lies.
function readable(file) {
	try {
		new FileReaderSync().readAsArrayBuffer(file.slice(0, 1));
		return true;
	} catch {
		return false;
	}
}

// The file's bytes, from the page a chunk at a time, into one buffer of
// the file's size: held once.  (Where a worker cannot read the file, it
// cannot read a Blob of its own making either.)
function copy(file) {
	const bytes = new Uint8Array(file.size);
	let size = 0;
	return new Promise((resolve, reject) => {
		chunk = ({bytes: part, error}) => {
			if (error)
				return reject(new Error(error));
			if (!part)
				return resolve(bytes.subarray(0, size));
			bytes.set(new Uint8Array(part), size);
			size += part.byteLength;
			// TRANSLATORS: %s is the file's name.
			step(m('Reading %s', file.name), size, file.size);
			post({more: size});
		};
		post({more: 0});
	});
}

// The file at /in/pkg in an instance's file system: the File itself, read
// where it lies, or the worker's copy, shared without copying it again.
function mount(module, source, name) {
	const fs = module.FS;
	fs.mkdir('/in');
	if (source instanceof Uint8Array) {
		fs.writeFile('/in/pkg', new Uint8Array(0));
		const node = fs.lookupPath('/in/pkg').node;
		node.contents = source;
		node.usedBytes = source.length;
	} else {
		fs.mount(module.WORKERFS, {blobs: [{name: 'pkg', data: source}]},
			'/in');
		const node = fs.lookupPath('/in/pkg').node;
		node.stream_ops = {...node.stream_ops, read: cached(source, name)};
	}
}

// Each block read is a new ArrayBuffer that only a collection of the
// worker's young objects frees, and one long run of 7-Zip makes almost no
// JavaScript objects: without short-lived arrays, about as many bytes as
// are dropped, Chromium holds hundreds of megabytes of read blocks.  Arrays
// of 64 KiB, not larger: an array over 128 KiB gets memory of its own from
// the system, which cost Firefox as much time as the reads.
let young; // kept where no optimiser can drop it
function drop(bytes) {
	for (let n = 0; n < bytes.length; n += 64 * 1024)
		young = new Array(16 * 1024).fill(0);
	return bytes.length;
}

// Reads of the File a block at a time, the last few kept: each read of the
// File costs milliseconds however short, and 7-Zip reads a package's
// headers a few bytes at a time.  A read that goes on where the newest
// block ends reads a block twice as long, up to 8 MiB, as a disk reads
// ahead: Chromium reads a file 8 MiB at a time twice as fast as 1 MiB at
// a time, and a jump still reads only 1 MiB.
function cached(file, name) {
	const SHORT = 1024 * 1024;
	const LONG = 8 * SHORT;
	const KEPT = 16 * SHORT;
	const reader = new FileReaderSync();
	const blocks = []; // [{at, bytes}], the newest last
	let kept = 0;
	const load = (position) => {
		const last = blocks.at(-1);
		const ahead = last && position === last.at + last.bytes.length;
		const at = ahead ? position : position - position % SHORT;
		const size = ahead ? Math.min(2 * last.bytes.length, LONG) : SHORT;
		const bytes = new Uint8Array(reader.readAsArrayBuffer(
			file.slice(at, at + size)));
		blocks.push({at, bytes});
		for (kept += bytes.length; kept > KEPT;)
			kept -= drop(blocks.shift().bytes);
		return blocks.at(-1);
	};
	return (stream, buffer, offset, length, position) => {
		let done = 0;
		while (done < length && position + done < file.size) {
			const p = position + done;
			const block = blocks.find((b) => p >= b.at &&
				p < b.at + b.bytes.length) ?? load(p);
			step(m('Reading %s', name), p, file.size);
			const part = block.bytes.subarray(p - block.at,
				p - block.at + length - done);
			buffer.set(part, offset + done);
			done += part.length;
		}
		return done;
	};
}

const sizeOf = (source) => source.size ?? source.length;
const read = (source) => source instanceof Uint8Array ? source :
	new Uint8Array(new FileReaderSync().readAsArrayBuffer(source));

// One run of 7-Zip, as its command line, on a fresh instance with source,
// the file, at /in/pkg; setup(fs) prepares its file system first.  status is null
// when 7-Zip stopped by throwing, as it does on some damaged packages.
async function sevenZip(source, args, setup) {
	const name = source?.name;
	const out = [];
	const err = [];
	const module = await SevenZip({
		instantiateWasm(imports, done) {
			WebAssembly.instantiate(code.sevenZip, imports).then(
				(instance) => done(instance, code.sevenZip));
			return {};
		},
		print: (line) => out.push(line),
		printErr: (line) => err.push(line),
	});
	const fs = module.FS;
	if (source)
		mount(module, source, name);
	setup?.(fs);
	let status = null;
	try {
		status = module.callMain(args);
	} catch {
		// A C++ exception that 7-Zip did not catch.
	}
	return {fs, status, out, err};
}

// 7-Zip's reasons, on one line, less those that only name the file by
// the worker's own path for it, /in/pkg; true where it gave none.
function why(err) {
	return err.filter((l) => l && l !== 'ERRORS:' &&
		!/^(ERROR: )?\/in\/pkg( : \/in\/pkg)?$/.test(l))
		.map((l) => l.replace(/^ERROR: /, '')).join('; ') || true;
}

// The package's entries from 7-Zip's technical listing, as
// [{Path, Size, Folder, Attributes, ...}], and its type (PE for a Windows
// program, which 7-Zip reads as a package of sections); or {notPackage},
// or {damaged}, also where 7-Zip could read the listing only in part.
async function list(source) {
	const r = await sevenZip(source, ['l', '-slt', '-bsp0', '/in/pkg']);
	const entries = [];
	const errors = []; // what the package's own block says is wrong
	let type = null;
	let body = false; // past the package's own block
	let wrong = false;
	for (const line of r.out) {
		const m = /^([A-Za-z][A-Za-z ]*) = (.*)$/.exec(line);
		if (/^-{10,}$/.test(line))
			body = true;
		else if (!body && /^(ERRORS|WARNINGS):$/.test(line))
			wrong = true;
		else if (!body && wrong && line && !m)
			errors.push(line);
		else if (!body && m && m[1] === 'Type')
			type = m[2];
		else if (body && m && m[1] === 'Path')
			entries.push({Path: m[2]});
		else if (body && m && entries.length > 0)
			entries[entries.length - 1][m[1]] = m[2];
	}
	if (r.err.some((l) => l.includes('Cannot open the file as archive')))
		return {notPackage: true};
	if (r.status === null || r.status > 1)
		return {damaged: why([...errors, ...r.err])};
	return {entries, type};
}

// What the rules take an entry for: a folder, a hard link (its target's
// data, read there) or a device is none of a driver.
function kind(e) {
	const mode = e.Attributes || e.Mode || '';
	if (e.Folder === '+' || /^D/.test(mode))
		return 'o';
	if (e['Symbolic Link'] || /(^| )l[-rwxsStT]{9}$/.test(mode))
		return 'l';
	if (e['Hard Link'] || /(^| )[^- ][-rwxsStT]{9}$/.test(mode))
		return 'o';
	return 'r';
}

// The locator and the rules, instantiated once.
async function locator() {
	if (!fw) {
		// The C library's calls on its way to abort, as on a length
		// past any string's: nothing is written anywhere (52: ENOSYS).
		const wasi = {fd_close: () => 52, fd_seek: () => 52, fd_write: () => 52};
		fw = (await WebAssembly.instantiate(code.locator,
			{wasi_snapshot_preview1: wasi})).exports;
		MAX = fw.driver_bound();
	}
}

// Text into the module's room; returns its length in bytes.
function put(text) {
	const bytes = new TextEncoder().encode(text);
	new Uint8Array(fw.memory.buffer, fw.room(bytes.length), bytes.length)
		.set(bytes);
	return bytes.length;
}

// The module's answer, JSON at address.
function answer(address) {
	const memory = new Uint8Array(fw.memory.buffer);
	return JSON.parse(new TextDecoder().decode(
		memory.subarray(address, memory.indexOf(0, address))));
}

// The listing handed to the rules: the entries they keep (those named
// CnxEtU.sys), in their order; null where there are more than any package
// holds.
function listed(entries) {
	fw.begin();
	const kept = [];
	for (const e of entries) {
		const size = /^\d+$/.test(e.Size) ? Number(e.Size) : -1;
		const k = fw.listed(kind(e).charCodeAt(0), size, put(e.Path), 0);
		if (k < 0)
			return null;
		if (k > 0)
			kept.push(e);
	}
	return kept;
}

// The locator on one driver's bytes, entry index of the listing:
// {offset, image, sum}, {reason} in the locator's own words, or
// {unpacked: 'more' or 'less'} where it is not the size the package says.
function locate(index, bytes) {
	const at = fw.room(bytes.length);
	new Uint8Array(fw.memory.buffer, at, bytes.length).set(bytes);
	const r = answer(fw.located(index, bytes.length));
	if (r.offset !== undefined)
		r.image = new Uint8Array(fw.memory.buffer).slice(at + r.offset,
			at + r.offset + r.size);
	return r;
}

// The file itself as the driver, read only within the bound.
function itself(source, name) {
	if (sizeOf(source) > MAX)
		return {tooLarge: sizeOf(source)};
	fw.begin();
	fw.listed('r'.charCodeAt(0), sizeOf(source), put(name), 1);
	answer(fw.plan(put(name), 0));
	const r = locate(0, read(source));
	return r.image ? {...r, path: answer(fw.verdict(put(name))).images[0].path} :
		r;
}

// Where 7-Zip puts an entry, as the rules know it: without the
// components that it leaves out ("." and "..", and leading slashes), and
// a control character as the "_" that its listing shows.
const where = (path) => path.replace(/[\0-\x1f]/g, '_').split('/')
	.filter((c) => c && c !== '.' && c !== '..').join('/');

// Unpacks the drivers of the plan, read (indices into kept, the entries
// the rules keep) that come to total bytes as the package states, and none of the other CnxEtU.sys, running each through
// the locator as 7-Zip closes it, and emptying it then: one driver is held
// at a time.  Nothing 7-Zip writes may pass the bound, nor all of it the
// sizes the package states, whatever the package's data holds, nor what
// is held at once one driver's bound.  Returns {}, {damaged} or
// {unpacked: 'more' or 'less'}; each different image, by its SHA-256,
// into images.
async function unpack(source, name, kept, {read, total}, images) {
	let written = 0;
	let held = 0;
	let overrun = false;
	let located = 0;
	let unpacked = null;
	const planned = new Map(); // where 7-Zip puts them: entries, in order
	for (const i of read) {
		const at = where(kept[i].Path);
		planned.set(at, [...(planned.get(at) || []), i]);
	}
	const taken = new Set(read);
	const skip = kept.filter((_, i) => !taken.has(i));
	const r = await sevenZip(source, ['x', '-y', '-bsp0', '-bso0', '-ssc-',
		'-spd', '-scsUTF-8', '-o/x', '/in/pkg', '-ir!cnxetu.sys', '-x@/skip'],
	(fs) => {
		fs.writeFile('/skip', skip.map((e) => e.Path).join('\n') + '\n');
		const {write, close} = fs;
		fs.write = (stream, buffer, offset, length, position, canOwn) => {
			if (stream.path.startsWith('/x/')) {
				const end = (position ?? stream.position) + length;
				if (end > MAX || written + length > total ||
					held + length > MAX) {
					overrun = true;
					throw new fs.ErrnoError(22); // EFBIG
				}
				written += length;
				held += length;
				// TRANSLATORS: %s is the package file's name.
				step(m('Unpacking CnxEtU.sys from %s', name), written, total);
			}
			return write(stream, buffer, offset, length, position, canOwn);
		};
		let reading = false; // readFile closes the file too
		fs.close = (stream) => {
			const path = stream.path;
			close(stream);
			if (reading || !path.startsWith('/x/') || overrun ||
				!fs.isFile(fs.lstat(path).mode))
				return;
			reading = true;
			const bytes = fs.readFile(path);
			reading = false;
			const index = planned.get(where(path.slice(3)))?.shift();
			if (index !== undefined) {
				located++;
				const got = locate(index, bytes);
				unpacked ||= got.unpacked;
				// One copy of each image is enough.
				if (got.image && !images.has(got.sum))
					images.set(got.sum, got.image);
			}
			fs.truncate(path, 0);
			held -= bytes.length - fs.stat(path).size;
		};
	});
	if (overrun || unpacked === 'more')
		return {unpacked: 'more'};
	if (r.status !== 0 && r.status !== 1) // 1 is a warning
		return {damaged: why(r.err)};
	// A driver the package lists but 7-Zip did not unpack whole.
	if (unpacked || located < read.length)
		return {unpacked: 'less'};
	return {};
}

// Every CnxEtU.sys in the package that the rules take, each through the
// locator; identical images give one.  Returns what the page shows, or
// {none} where the package holds no CnxEtU.sys to read.
async function drivers(source, name, entries) {
	const kept = listed(entries);
	if (!kept)
		// TRANSLATORS: the file's name; why 7-Zip was stopped (in English).
		return {refusal: m("7-Zip was stopped while reading the package `%s' " +
			'(%s): it is damaged or malicious; fetch or copy it again', name,
		'more CnxEtU.sys than any package holds')};
	const plan = answer(fw.plan(put(name), 0));
	const notes = plan.notes.map(words);
	if (plan.outcome === 'none')
		return {none: true, notes};
	if (plan.end)
		return {refusal: words(plan.end), notes};
	const images = new Map();
	const got = await unpack(source, name, kept, plan, images);
	if (got.unpacked === 'more')
		return {refusal: m("`%s' is damaged: a CnxEtU.sys in it unpacks to " +
			'more than the package says it holds; fetch or copy it again',
		name), notes};
	if (got.damaged || got.unpacked)
		return {damaged: got.damaged || true, notes};
	const v = answer(fw.verdict(put(name)));
	notes.push(...v.notes.map(words));
	if (v.end)
		return {refusal: words(v.end), notes};
	return {images: v.images.map((i) => ({...i, image: images.get(i.sum)})),
		same: v.same && words(v.same), notes};
}

async function run(file) {
	const name = file.name;
	let source = file;
	if (!readable(file)) {
		if (file.size > COPY_MAX)
			// TRANSLATORS: the file's name; its size.
			return {refusal: np("this browser lets the page read `%s' only by " +
				'copying it whole, and at %s byte it is larger than the ' +
				'page copies (1 GiB at most): open the page in Firefox or ' +
				'Chromium, or choose the CnxEtU.sys taken out of it',
			"this browser lets the page read `%s' only by copying it whole, " +
				'and at %s bytes it is larger than the page copies (1 GiB at ' +
				'most): open the page in Firefox or Chromium, or choose the ' +
				'CnxEtU.sys taken out of it', file.size, name, file.size)};
		step(m('Reading %s', name), 0, file.size, true);
		source = await copy(file);
	}
	// TRANSLATORS: %s is the file's name.
	step(m('Looking for CnxEtU.sys in %s', name), 0, 0, true);
	await locator();
	const pkg = await list(source);
	// 7-Zip reads a Windows program as a package of its sections: the
	// driver itself, chosen, is read as a driver.
	const program = pkg.type === 'PE';
	const r = pkg.entries ? await drivers(source, name, pkg.entries) : {};
	if (r.images || r.refusal || (r.none && !program)) {
		if (r.none)
			r.refusal = m("no CnxEtU.sys in `%s' (read as a package)", name);
		return r;
	}

	// No package, a program, or a damaged package: the file may be the
	// driver itself, whatever its name.
	const damaged = r.damaged || pkg.damaged;
	const self = itself(source, name);
	if (self.image)
		return {images: [{...self, count: 1}], notes: r.notes};
	if (damaged === true)
		// TRANSLATORS: the file's name (say "the file `%s'" where a word
		// must agree with it).
		r.refusal = m("`%s' is damaged or cut short (7-Zip could not read " +
			'all of it): fetch or copy it again', name);
	else if (damaged)
		// TRANSLATORS: the file's name (say "the file `%s'" where a word
		// must agree with it); 7-Zip's reasons, in English.
		r.refusal = m("`%s' is damaged or cut short (7-Zip: %s): fetch or " +
			'copy it again', name, damaged.replaceAll('/in/pkg', name));
	else if (pkg.notPackage && self.tooLarge)
		// TRANSLATORS: the file's name (say "the file `%s'" where a word
		// must agree with it); its size.
		r.refusal = np("`%s' is neither a package that 7-Zip can read nor a " +
			'driver: at %s byte, it is larger than any driver (16 MiB at most)',
		"`%s' is neither a package that 7-Zip can read nor a driver: at %s " +
			'bytes, it is larger than any driver (16 MiB at most)',
		self.tooLarge, name, self.tooLarge);
	else if (pkg.notPackage)
		// TRANSLATORS: the file's name (say "the file `%s'" where a pronoun
		// must agree with it); the locator's reason, in English.
		r.refusal = m("`%s' is neither a package that 7-Zip can read nor a " +
			"driver (%s); if it is the vendor's package, it is damaged or " +
			'cut short: fetch or copy it again', name, self.reason);
	else if (self.tooLarge)
		// TRANSLATORS: the file's name (say "the file `%s'" where a word
		// must agree with it); its size.
		r.refusal = np("no CnxEtU.sys in `%s', and at %s byte it is too " +
			'large to be a driver itself (16 MiB at most)', "no CnxEtU.sys in " +
			"`%s', and at %s bytes it is too large to be a driver itself (16 " +
			'MiB at most)', self.tooLarge, name, self.tooLarge);
	else
		// TRANSLATORS: the file's name; the locator's reason, in English.
		r.refusal = m("no CnxEtU.sys in `%s', and it is not a driver itself " +
			'(%s)', name, self.reason);
	return r;
}

onmessage = ({data}) => {
	if (data.file) {
		code = data.code;
		run(data.file).then((r) => post({done: r},
			(r.images || []).map((image) => image.image.buffer)),
		// TRANSLATORS: the file's name; the browser's reason, in English.
		(e) => post({done: {refusal: m("cannot read `%s': %s",
			data.file.name, e.words || String(e.message || e))}}));
	} else {
		chunk(data);
	}
};
