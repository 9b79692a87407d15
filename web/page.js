// The page: the chosen file goes to a worker, which finds every
// CnxEtU.sys in it and runs tovrin-fw's own locator on each; the page shows
// what it found and saves tovrin-fw.bin.  Nothing leaves the browser.
// WASM (both modules, in base64) and WORKER (the worker's script) come
// from the script that the build puts first.
/* global WASM, WORKER */
'use strict';

(() => {
	// How much of the file the page hands over at a time, where the
	// worker cannot read it where it lies.
	const CHUNK = 16 << 20;

	const $ = (id) => document.getElementById(id);
	const input = $('file');
	const drop = $('drop');
	const busy = $('busy');
	const step = $('step');
	const progress = $('progress');
	const cancel = $('cancel');
	const result = $('result');

	function decode(base64) {
		const text = atob(base64);
		const bytes = new Uint8Array(text.length);
		for (let i = 0; i < text.length; i++)
			bytes[i] = text.charCodeAt(i);
		return bytes;
	}

	// Compiled once, and handed to each worker.
	const code = Promise.all([WASM.sevenZip, WASM.locator].map(
		(base64) => WebAssembly.compile(decode(base64))))
		.then(([sevenZip, locator]) => ({sevenZip, locator}));
	const script = URL.createObjectURL(new Blob([WORKER],
		{type: 'text/javascript'}));

	// What tovrin-fw prints for an image at offset: printf's %#x.
	const hex = (offset) => offset === 0 ? '0' : `0x${offset.toString(16)}`;

	function element(tag, attrs, ...children) {
		const e = document.createElement(tag);
		Object.assign(e, attrs);
		e.append(...children);
		return e;
	}

	const command = (text) => element('pre', {}, element('code', {}, text));
	const paragraphs = (lines) => lines.map((l) => element('p', {}, l));

	// The drivers without firmware: a line each for a few, a summary of
	// many, never thousands of paragraphs.
	function skipped(list = []) {
		const lines = list.map((s) => `no firmware in \`${s.path}': ${
			s.reason}`);
		if (lines.length <= 3)
			return paragraphs(lines);
		return [element('details', {className: 'skipped'},
			element('summary', {}, `${lines.length} drivers hold no firmware`),
			element('pre', {}, lines.join('\n')))];
	}

	let urls = [];

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

	function next(several) {
		return element('div', {className: 'next'},
			element('h2', {}, 'Next, on the modem\'s computer'),
			element('ol', {},
				element('li', {},
					'Copy tovrin-fw.bin over, and install it as root ' +
					'where the kernel\'s firmware loader looks for it:',
					command('install -D -m 0644 tovrin-fw.bin ' +
						'/lib/firmware/tovrin-fw.bin'),
					...(several ? [element('p', {}, 'The browser may save a ' +
						'second file under another name, such as ' +
						'tovrin-fw(1).bin: install it under the name ' +
						'tovrin-fw.bin all the same, as in ' +
						'install -D -m 0644 \'tovrin-fw(1).bin\' ' +
						'/lib/firmware/tovrin-fw.bin.')] : [])),
				element('li', {},
					'Plug the modem in (again), and see as root ' +
					'whether the kernel loaded it:',
					command('dmesg | grep -i firmware'))));
	}

	// What the worker found: the images and their save controls first,
	// then what was left out; or the refusal, as an alert.
	function show(name, r) {
		let first;
		if (r.refusal) {
			first = element('div', {className: 'failed', role: 'alert',
				tabIndex: -1}, element('p', {}, r.refusal),
			...paragraphs(r.notes || []), ...skipped(r.skipped));
			result.append(first);
		} else {
			const several = r.images.length > 1;
			const images = r.images.map((found) => image(found, several ?
				`Save tovrin-fw.bin from ${found.path}` : 'Save tovrin-fw.bin'));
			if (several)
				result.append(element('p', {}, `the drivers in \`${name
				}' hold different images: save the one for the newest ` +
					'Windows that its folder names'));
			else if (r.found > 1)
				result.append(element('p', {}, `${r.found} drivers in \`${
					name}' hold the same image`));
			first = result.firstChild || images[0];
			first.tabIndex = -1;
			result.append(...images, next(several),
				...paragraphs(r.notes || []), ...skipped(r.skipped));
		}
		first.focus();
		first.scrollIntoView({block: 'start'});
	}

	let worker = null;
	let chosen = '';

	function finish(state) {
		worker?.terminate();
		worker = null;
		busy.hidden = true;
		input.disabled = false;
		result.setAttribute('aria-busy', 'false');
		document.body.dataset.state = state;
	}

	async function choose(file) {
		if (!file || worker)
			return;
		chosen = file.name;
		urls.forEach((url) => URL.revokeObjectURL(url));
		urls = [];
		result.replaceChildren();
		result.setAttribute('aria-busy', 'true');
		document.body.dataset.state = 'busy';
		input.disabled = true;
		step.textContent = `Reading ${file.name}`;
		progress.removeAttribute('value');
		busy.hidden = false;
		cancel.focus();

		const w = worker = new Worker(script);
		const fail = (why) => {
			if (w !== worker)
				return;
			show(file.name, {refusal: `cannot read \`${file.name}': ${why}`});
			finish('done');
		};
		w.onerror = (e) => {
			e.preventDefault();
			fail(e.message || 'the worker stopped');
		};
		w.onmessage = ({data}) => {
			if (w !== worker)
				return;
			if (data.step) {
				step.textContent = data.step;
				if (data.max > 0) {
					progress.max = data.max;
					progress.value = data.value;
				} else {
					progress.removeAttribute('value');
				}
			} else if ('more' in data) {
				// The worker cannot read the file: the next chunk.
				if (data.more >= file.size)
					return w.postMessage({});
				file.slice(data.more, data.more + CHUNK).arrayBuffer().then(
					(bytes) => w.postMessage({bytes}, [bytes]),
					(e) => w.postMessage({error: e.message || String(e)}));
			} else if (data.done) {
				show(file.name, data.done);
				finish('done');
			}
		};
		try {
			w.postMessage({file, code: await code});
		} catch (e) {
			fail(e.message || e);
		}
	}

	cancel.addEventListener('click', () => {
		finish('ready');
		result.append(element('p', {}, `Stopped: nothing was taken from \`${
			chosen}'.`));
		input.focus();
	});
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
		choose(e.dataTransfer.files[0]);
	});
	document.body.dataset.state = 'ready';
})();
