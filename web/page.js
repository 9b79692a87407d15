// The page: the vendor's package, every CnxEtU.sys in it, tovrin-fw's own
// locator on each (compiled to WebAssembly), and tovrin-fw.bin to save.
// Nothing leaves the browser.  SevenZip (7-Zip's module) and WASM (both
// modules' code, in base64) come from the scripts the build puts first.
/* global SevenZip, WASM */
'use strict';

(() => {
	// How much of the chosen file is read at a time: enough to be quick,
	// little enough to show progress on a CD image.
	const CHUNK = 16 << 20;
	// The largest driver the locator takes, as tovrin-fw.
	const INT32_MAX = 0x7fffffff;

	const $ = (id) => document.getElementById(id);
	const input = $('file');
	const drop = $('drop');
	const busy = $('busy');
	const step = $('step');
	const progress = $('progress');
	const result = $('result');

	function decode(base64) {
		const text = atob(base64);
		const bytes = new Uint8Array(text.length);
		for (let i = 0; i < text.length; i++)
			bytes[i] = text.charCodeAt(i);
		return bytes;
	}

	// Compiled once; every use instantiates its own, with a fresh memory.
	const sevenZipCode = WebAssembly.compile(decode(WASM.sevenZip));
	const locatorCode = WebAssembly.compile(decode(WASM.locator));

	// 7-Zip, run as its command line is; run() returns the exit status
	// (null when 7-Zip stopped by throwing, as it does on some damaged
	// packages) and the lines it wrote.
	async function sevenZip() {
		const code = await sevenZipCode;
		const out = [];
		const err = [];
		const module = await SevenZip({
			instantiateWasm(imports, done) {
				WebAssembly.instantiate(code, imports).then(
					(instance) => done(instance, code));
				return {};
			},
			print: (line) => out.push(line),
			printErr: (line) => err.push(line),
		});
		return {
			fs: module.FS,
			run(args) {
				out.length = 0;
				err.length = 0;
				let status = null;
				try {
					status = module.callMain(args);
				} catch (e) {
					// A C++ exception that 7-Zip did not catch.
				}
				return {status, out: [...out], err: [...err]};
			},
		};
	}

	// Copies file into 7-Zip's file system as path: one buffer of the
	// file's size, filled a chunk at a time, so that a CD image is held
	// once and its reading shows.
	async function copyIn(fs, file, path) {
		fs.writeFile(path, new Uint8Array(0));
		fs.truncate(path, file.size);
		const stream = fs.open(path, 'r+');
		try {
			for (let pos = 0; pos < file.size; pos += CHUNK) {
				const chunk = new Uint8Array(await file.slice(
					pos, pos + CHUNK).arrayBuffer());
				fs.write(stream, chunk, 0, chunk.length, pos);
				progress.value = pos + chunk.length;
			}
		} finally {
			fs.close(stream);
		}
	}

	// The regular files under dir, as [{path, bytes}] with paths relative
	// to dir, in order.
	function files(fs, dir, prefix = '') {
		const found = [];
		for (const name of fs.readdir(dir).sort()) {
			if (name === '.' || name === '..')
				continue;
			const mode = fs.lstat(`${dir}/${name}`).mode;
			if (fs.isDir(mode))
				found.push(...files(fs, `${dir}/${name}`,
					`${prefix}${name}/`));
			else if (fs.isFile(mode))
				found.push({path: prefix + name,
					bytes: fs.readFile(`${dir}/${name}`)});
		}
		return found;
	}

	// Every CnxEtU.sys in the package at /in, in any folder and any
	// letter case: {drivers}, or {notPackage} when 7-Zip knows no such
	// package, or {damaged: 7-Zip's reason} when it cannot read it
	// through.
	function unpack(sz) {
		sz.fs.mkdir('/x');
		const r = sz.run(['x', '-y', '-bsp0', '-bso0', '-ssc-', '-o/x',
			'/in', '-ir!cnxetu.sys']);
		// 1 is a warning, such as data behind the package's end.
		if (r.status === 0 || r.status === 1)
			return {drivers: files(sz.fs, '/x')};
		if (r.err.includes('Cannot open the file as archive'))
			return {notPackage: true};
		const why = r.err.filter((l) => l && l !== 'ERRORS:' &&
			l !== 'ERROR: /in').map((l) => l.replace(/^ERROR: /, ''));
		return {damaged: why.join('; ') ||
			'it could not read the package through'};
	}

	// tovrin-fw's locator on a driver's bytes: {offset, image}, or
	// {reason} in the locator's own words.
	async function locate(bytes) {
		if (bytes.length > INT32_MAX)
			return {reason: 'Value too large for defined data type'};
		const {exports: fw} =
			await WebAssembly.instantiate(await locatorCode);
		// The bytes go above all the module uses: it allocates nothing.
		const at = fw.memory.grow(Math.ceil(bytes.length / 65536)) * 65536;
		new Uint8Array(fw.memory.buffer, at, bytes.length).set(bytes);
		const offset = fw.locate(at, bytes.length);
		const memory = new Uint8Array(fw.memory.buffer);
		if (offset < 0) {
			const why = fw.reason();
			return {reason: new TextDecoder().decode(
				memory.subarray(why, memory.indexOf(0, why)))};
		}
		return {offset, image: memory.slice(at + offset,
			at + offset + fw.image_size())};
	}

	// The SHA-256 of each image, by 7-Zip's h command.
	async function sha256(images) {
		const sz = await sevenZip();
		sz.fs.mkdir('/h');
		images.forEach((image, i) => sz.fs.writeFile(`/h/${i}`, image));
		const r = sz.run(['h', '-scrcSHA256', '-ba', '-bsp0',
			...images.map((_, i) => `/h/${i}`)]);
		const sums = [];
		for (const line of r.out) {
			const m = /^([0-9a-f]{64}) +\d+ +(\d+)$/.exec(line);
			if (m)
				sums[Number(m[2])] = m[1];
		}
		if (sums.filter(Boolean).length !== images.length)
			throw new Error('7-Zip computed no SHA-256');
		return sums;
	}

	// What tovrin-fw prints for an image at offset: printf's %#x.
	const hex = (offset) => offset === 0 ? '0' : `0x${offset.toString(16)}`;

	function element(tag, attrs, ...children) {
		const e = document.createElement(tag);
		Object.assign(e, attrs);
		e.append(...children);
		return e;
	}

	function code(text) {
		return element('pre', {}, element('code', {}, text));
	}

	let urls = [];

	function fail(message, notes = []) {
		result.append(element('div', {className: 'failed', role: 'alert'},
			element('p', {}, message),
			...notes.map((n) => element('p', {}, n))));
	}

	// One image: the line tovrin-fw prints, its size and SHA-256, and a
	// control that saves it as tovrin-fw.bin.
	function image(found, label) {
		const url = URL.createObjectURL(new Blob([found.image],
			{type: 'application/octet-stream'}));
		urls.push(url);
		return element('div', {className: 'image'},
			element('p', {}, `found firmware in \`${found.path}' at offset ${
				hex(found.offset)}`),
			element('p', {}, `${found.image.length} bytes, SHA-256 `,
				element('span', {className: 'sum'}, found.sum)),
			element('p', {}, element('a', {className: 'save', href: url,
				download: 'tovrin-fw.bin'}, label)));
	}

	function next() {
		return element('div', {className: 'next'},
			element('h2', {}, 'Next, on the modem\'s computer'),
			element('ol', {},
				element('li', {},
					'Copy tovrin-fw.bin over, and install it as root ' +
					'where the kernel\'s firmware loader looks for it:',
					code('install -D -m 0644 tovrin-fw.bin ' +
						'/lib/firmware/tovrin-fw.bin')),
				element('li', {},
					'Plug the modem in (again), and see as root ' +
					'whether the kernel loaded it:',
					code('dmesg | grep -i firmware'))));
	}

	// The installer's rules: every driver is tried, identical images
	// give one, different ones are each offered.
	async function fromDrivers(name, drivers) {
		const found = [];
		const notes = [];
		for (const driver of drivers) {
			const r = await locate(driver.bytes);
			if (r.reason)
				notes.push(`no firmware in \`${driver.path}': ${r.reason}`);
			else
				found.push({path: driver.path, ...r});
		}
		if (found.length === 0) {
			fail(drivers.length === 1 ?
				`the one driver in \`${name}' holds no firmware` :
				`none of the ${drivers.length} drivers in \`${
					name}' holds the firmware`, notes);
			return;
		}
		const sums = await sha256(found.map((f) => f.image));
		found.forEach((f, i) => (f.sum = sums[i]));
		const images = found.filter((f, i) => sums.indexOf(f.sum) === i);
		notes.forEach((n) => result.append(element('p', {}, n)));
		if (images.length === 1) {
			if (found.length > 1)
				result.append(element('p', {}, `${found.length
				} drivers in \`${name}' hold the same image`));
			result.append(image(images[0], 'Save tovrin-fw.bin'));
		} else {
			result.append(element('p', {}, `the drivers in \`${name
			}' hold different images: save the one for the newest ` +
				'Windows that its folder names'));
			for (const f of images)
				result.append(image(f, `Save tovrin-fw.bin from ${f.path}`));
		}
		result.append(next());
	}

	async function take(file) {
		const name = file.name;
		const sz = await sevenZip();
		step.textContent = `Reading ${name}`;
		progress.max = file.size || 1;
		progress.value = 0;
		busy.hidden = false;
		await copyIn(sz.fs, file, '/in');

		step.textContent = `Looking for CnxEtU.sys in ${name}`;
		progress.removeAttribute('value');
		// 7-Zip holds the page while it runs: show the step first.
		await new Promise((r) => requestAnimationFrame(() => setTimeout(r)));
		const pkg = unpack(sz);
		if (pkg.drivers && pkg.drivers.length > 0)
			return fromDrivers(name, pkg.drivers);

		// No package, or one without a driver: the file may be the
		// driver itself, whatever its name.
		const bytes = sz.fs.readFile('/in');
		const self = await locate(bytes);
		if (!self.reason)
			return fromDrivers(name, [{path: name, bytes}]);
		if (pkg.damaged)
			fail(`\`${name}' is damaged or cut short (7-Zip: ${
				pkg.damaged}): fetch or copy it again`);
		else if (pkg.notPackage)
			fail(`\`${name}' is neither a package that 7-Zip can read ` +
				`nor a driver (${self.reason}); if it is the vendor's ` +
				'package, it is damaged or cut short: fetch or copy it again');
		else
			fail(`no CnxEtU.sys in \`${name}', and it is no driver ` +
				`itself (${self.reason})`);
	}

	async function choose(file) {
		if (!file)
			return;
		urls.forEach((url) => URL.revokeObjectURL(url));
		urls = [];
		result.replaceChildren();
		result.setAttribute('aria-busy', 'true');
		document.body.dataset.state = 'busy';
		input.disabled = true;
		try {
			await take(file);
		} catch (e) {
			fail(`cannot read \`${file.name}': ${e.message || e}`);
		} finally {
			busy.hidden = true;
			input.disabled = false;
			result.setAttribute('aria-busy', 'false');
			document.body.dataset.state = 'done';
		}
	}

	input.addEventListener('change', () => choose(input.files[0]));
	drop.addEventListener('dragover', (e) => {
		e.preventDefault();
		drop.classList.add('over');
	});
	drop.addEventListener('dragleave', () => drop.classList.remove('over'));
	// A file dropped anywhere is taken, never opened by the browser.
	window.addEventListener('dragover', (e) => e.preventDefault());
	window.addEventListener('drop', (e) => {
		e.preventDefault();
		drop.classList.remove('over');
		if (!input.disabled)
			choose(e.dataTransfer.files[0]);
	});
	document.body.dataset.state = 'ready';
})();
