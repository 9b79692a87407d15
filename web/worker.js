// The page's worker: 7-Zip and tovrin-fw's locator, away from the page so
// that it answers throughout.  It reads the chosen file where it lies
// where the browser lets a worker read it; elsewhere the page hands it over
// in chunks.  It lists the package before it unpacks anything, and leaves
// out what cannot be a driver, as tovrin-fw-install does.  SevenZip,
// 7-Zip's module, comes from the script that the build puts before this.
/* global SevenZip, FileReaderSync */
'use strict';

// Real drivers are well under 1 MiB: a larger CnxEtU.sys is damaged or
// hostile, and is left out unread (tovrin-fw-install's bound).
const MAX = 16 * 1024 * 1024;
// Real packages hold a handful of drivers: those that come to more are
// refused before anything is unpacked.
const TOTAL = 64 * 1024 * 1024;
// Of many notes alike, the first few are shown, then how many more.
const FEW = 3;
// Where the worker cannot read the file, it is copied whole: no further.
const COPY_MAX = 1024 * 1024 * 1024;
const DRIVER = /(^|\/)cnxetu\.sys$/i;

let code; // the compiled modules, {sevenZip, locator}, from the page
let chunk; // takes the page's next chunk while the file is copied
let fw; // the locator's instance, and where the driver goes in its memory
let at;

const post = (message, transfer) => postMessage(message, transfer || []);
// What the page says, as [format, ...args]: the page puts it in the
// reader's language; an argument may be such a message itself.
const m = (format, ...args) => [format, ...args];
// A message with a count: its form is chosen by the count, COUNT, in the
// reader's language.
const np = (singular, plural, count, ...args) =>
	[[singular, plural], count, ...args];

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
// the worker's own path for it, /in/pkg.
function why(err) {
	return err.filter((l) => l && l !== 'ERRORS:' &&
		!/^(ERROR: )?\/in\/pkg( : \/in\/pkg)?$/.test(l))
		.map((l) => l.replace(/^ERROR: /, '')).join('; ') ||
		// TRANSLATORS: a reason, in "`%s' is damaged or cut short (7-Zip:
		// %s)"; "it" is 7-Zip.
		m('it could not read the package through');
}

// The package's entries from 7-Zip's technical listing, as
// [{Path, Size, Folder, Attributes, ...}]; or {notPackage}, or {damaged}.
async function list(source) {
	const r = await sevenZip(source, ['l', '-slt', '-ba', '-bsp0', '/in/pkg']);
	const entries = [];
	for (const line of r.out) {
		const m = /^([A-Za-z][A-Za-z ]*) = (.*)$/.exec(line);
		if (m && m[1] === 'Path')
			entries.push({Path: m[2]});
		else if (m && entries.length > 0)
			entries[entries.length - 1][m[1]] = m[2];
	}
	if (r.err.some((l) => l.includes('Cannot open the file as archive')))
		return {notPackage: true};
	if (r.status === null || (r.status > 1 && entries.length === 0))
		return {damaged: why(r.err)};
	return {entries};
}

// tovrin-fw's locator, instantiated once: it keeps no state between
// calls.  The drivers go above all the module uses: it allocates nothing.
async function locator() {
	if (!fw) {
		fw = (await WebAssembly.instantiate(code.locator)).exports;
		at = fw.memory.grow(1) * 65536;
	}
}

// The locator on a driver's bytes: {offset, image}, or {reason} in the
// locator's own words.
function locate(bytes) {
	const room = fw.memory.buffer.byteLength - at;
	if (bytes.length > room)
		fw.memory.grow(Math.ceil((bytes.length - room) / 65536));
	new Uint8Array(fw.memory.buffer, at, bytes.length).set(bytes);
	const offset = fw.locate(at, bytes.length);
	const memory = new Uint8Array(fw.memory.buffer);
	if (offset < 0) {
		const reason = fw.reason();
		return {reason: new TextDecoder().decode(
			memory.subarray(reason, memory.indexOf(0, reason)))};
	}
	return {offset, image: memory.slice(at + offset,
		at + offset + fw.image_size())};
}

// The file itself as the driver, read only within the bound.
function itself(source) {
	if (sizeOf(source) > MAX)
		// TRANSLATORS: a reason, in "`%s' is neither a package that 7-Zip can
		// read nor a driver: %s"; the file's size, and the largest a driver
		// may have.
		return {tooLarge: np('at %s byte it is larger than any driver (%s ' +
			'bytes at most)', 'at %s bytes it is larger than any driver (%s ' +
			'bytes at most)', sizeOf(source), sizeOf(source), MAX)};
	return locator().then(() => locate(read(source)));
}

// The SHA-256 of each image, by 7-Zip's h command.
async function sha256(images) {
	const r = await sevenZip(null, ['h', '-scrcSHA256', '-ba', '-bsp0',
		...images.map((_, i) => `/h/${i}`)], (fs) => {
		fs.mkdir('/h');
		images.forEach((image, i) => fs.writeFile(`/h/${i}`, image));
	});
	const sums = [];
	for (const line of r.out) {
		const m = /^([0-9a-f]{64}) +\d+ +(\d+)$/.exec(line);
		if (m)
			sums[Number(m[2])] = m[1];
	}
	if (sums.filter(Boolean).length !== images.length)
		// TRANSLATORS: a reason, in "cannot read `%s': %s".
		throw {words: m('7-Zip computed no SHA-256')};
	return sums;
}

const size = (e) => (/^\d+$/.test(e.Size) ? Number(e.Size) : MAX);

// Unpacks every CnxEtU.sys but those in skip, running each through the
// locator as 7-Zip closes it, and emptying it then: one driver is held at
// a time.  Nothing 7-Zip writes may pass the bound, nor all of it the
// sizes the package states, whatever the package's data holds, nor what
// is held at once one driver's bound.  Returns
// {drivers: [{path, offset, image} or {path, reason}]}, {damaged} or
// {overrun}.
async function unpack(source, name, skip, stated) {
	let written = 0;
	let held = 0;
	let overrun = false;
	const drivers = [];
	const r = await sevenZip(source, ['x', '-y', '-bsp0', '-bso0', '-ssc-',
		'-scsUTF-8', '-o/x', '/in/pkg', '-ir!cnxetu.sys', '-x@/skip'], (fs) => {
		fs.writeFile('/skip', skip.map((e) => e.Path).join('\n') + '\n');
		const {write, close} = fs;
		fs.write = (stream, buffer, offset, length, position, canOwn) => {
			if (stream.path.startsWith('/x/')) {
				const end = (position ?? stream.position) + length;
				if (end > MAX || written + length > stated ||
					held + length > MAX) {
					overrun = true;
					throw new fs.ErrnoError(22); // EFBIG
				}
				written += length;
				held += length;
				// TRANSLATORS: %s is the package file's name.
				step(m('Unpacking CnxEtU.sys from %s', name), written, stated);
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
			drivers.push({path: path.slice(3), ...locate(bytes)});
			fs.truncate(path, 0);
			held -= bytes.length - fs.stat(path).size;
		};
	});
	if (overrun)
		return {overrun: true};
	if (r.status !== 0 && r.status !== 1) // 1 is a warning
		return {damaged: why(r.err)};
	return {drivers};
}

// Every CnxEtU.sys in the package, each through the locator; identical
// images give one.  Returns what the page shows.
async function drivers(source, name, entries) {
	const notes = [];
	const skip = [];
	let over = 0;
	let n = 0;
	let taken = 0;
	let stated = 0;
	const large = [];
	for (const e of entries) {
		if (!DRIVER.test(e.Path))
			continue;
		const path = e.Path.startsWith('./') ? e.Path.slice(2) : e.Path;
		if (e.Folder === '+' || /^D/.test(e.Attributes || '')) {
			skip.push(e);
		} else if (/(^| )l[-rwxsStT]{9}$/.test(e.Attributes || '')) {
			notes.push(m("`%s' in `%s' is a symbolic link, no driver: " +
				'left out', path, name));
			skip.push(e);
		} else if (size(e) > MAX) {
			n++;
			if (++over <= FEW + 1)
				large.push(np("`%s' in `%s' is %s byte, more than any driver " +
					'(%s): left out', "`%s' in `%s' is %s bytes, more than any " +
					'driver (%s): left out', size(e), path, name, size(e), MAX));
			skip.push(e);
		} else {
			n++;
			taken++;
			stated += size(e);
		}
	}
	// The first few said, then how many more; where that would stand for
	// one, that one is said instead.
	notes.push(...large.slice(0, over > FEW + 1 ? FEW : FEW + 1));
	if (over > FEW + 1)
		notes.push(np("%s more CnxEtU.sys in `%s' is larger than any driver: " +
			'left out', "%s more CnxEtU.sys in `%s' are larger than any " +
			'driver: left out', over - FEW, over - FEW, name));
	if (n === 0)
		return {n, notes};
	if (taken === 0)
		return {refusal: m("no CnxEtU.sys in `%s' is small enough to be a " +
			'driver', name), notes};
	if (stated > TOTAL)
		return {refusal: np("the %s driver in `%s' comes to %s bytes, more " +
			"than any package's drivers (%s): refused", "the %s drivers in " +
			"`%s' come to %s bytes, more than any package's drivers (%s): " +
			'refused', taken, taken, name, stated, TOTAL), notes};

	await locator();
	const got = await unpack(source, name, skip, stated);
	if (got.overrun)
		return {refusal: m("`%s' is damaged: a CnxEtU.sys in it unpacks to " +
			'more than the package says it holds; fetch or copy it again',
		name), notes};
	if (got.damaged)
		return {damaged: got.damaged, notes};
	const byPath = (x, y) => (x.path < y.path ? -1 : x.path > y.path ? 1 : 0);
	const hits = got.drivers.filter((d) => d.image).sort(byPath);
	const skipped = got.drivers.filter((d) => d.reason).sort(byPath);
	if (hits.length === 0)
		return {refusal: n === 1 ?
			m("the one driver in `%s' holds no firmware", name) :
			np("the %s driver in `%s' holds no firmware", "none of the %s " +
				"drivers in `%s' holds the firmware", n, n, name),
		notes, skipped};
	const sums = await sha256(hits.map((h) => h.image));
	const images = [];
	hits.forEach((h, i) => {
		if (!images.some((image) => image.sum === sums[i]))
			images.push({...h, sum: sums[i]});
	});
	return {images, found: hits.length, notes, skipped};
}

async function run(file) {
	const name = file.name;
	let source = file;
	if (!readable(file)) {
		if (file.size > COPY_MAX)
			return {refusal: np("this browser lets the page read `%s' only by " +
				'copying it whole, and at %s byte it is larger than the ' +
				'page copies (%s): open the page in Firefox or Chromium, or ' +
				'choose the CnxEtU.sys taken out of it', "this browser lets " +
				"the page read `%s' only by copying it whole, and at %s bytes " +
				'it is larger than the page copies (%s): open the page in ' +
				'Firefox or Chromium, or choose the CnxEtU.sys taken out of it',
			file.size, name, file.size, COPY_MAX)};
		step(m('Reading %s', name), 0, file.size, true);
		source = await copy(file);
	}
	// TRANSLATORS: %s is the file's name.
	step(m('Looking for CnxEtU.sys in %s', name), 0, 0, true);
	const pkg = await list(source);
	let r = pkg.entries ? await drivers(source, name, pkg.entries) : {};
	if (r.images || r.refusal)
		return r;

	// No package, one without a driver, or a damaged one: the file may
	// be the driver itself, whatever its name.
	const damaged = r.damaged || pkg.damaged;
	const self = await itself(source);
	if (self.image) {
		const [sum] = await sha256([self.image]);
		return {images: [{path: name, ...self, sum}], found: 1};
	}
	if (damaged)
		// TRANSLATORS: the file's name (say "the file `%s'" where a pronoun
		// must agree with it); 7-Zip's reasons, in English, or the reason
		// "it could not read the package through".
		r.refusal = m("`%s' is damaged or cut short (7-Zip: %s): fetch or " +
			'copy it again', name, typeof damaged === 'string' ?
			damaged.replaceAll('/in/pkg', name) : damaged);
	else if (pkg.notPackage && self.tooLarge)
		// TRANSLATORS: the file's name (say "the file `%s'" where a pronoun
		// must agree with it); the reason "at %s bytes it is larger than any
		// driver ...".
		r.refusal = m("`%s' is neither a package that 7-Zip can read nor a " +
			'driver: %s', name, self.tooLarge);
	else if (pkg.notPackage)
		// TRANSLATORS: the file's name (say "the file `%s'" where a pronoun
		// must agree with it); the locator's reason, in English.
		r.refusal = m("`%s' is neither a package that 7-Zip can read nor a " +
			"driver (%s); if it is the vendor's package, it is damaged or " +
			'cut short: fetch or copy it again', name, self.reason);
	else if (self.tooLarge)
		// TRANSLATORS: the file's name (say "the file `%s'" where a pronoun
		// must agree with it); the reason "at %s bytes it is larger than any
		// driver ...".
		r.refusal = m("no CnxEtU.sys in `%s', and it is no driver itself: %s",
			name, self.tooLarge);
	else
		// TRANSLATORS: the file's name; the locator's reason, in English.
		r.refusal = m("no CnxEtU.sys in `%s', and it is no driver itself " +
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
