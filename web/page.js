// The page: the chosen file goes to a worker, which finds every
// CnxEtU.sys in it and runs tovrin-fw's own locator on each; the page shows
// what it found and saves tovrin-fw.bin.  Nothing leaves the browser.
// WASM (both modules, in base64) and WORKER (the worker's script) come
// from the script that the build puts first; each language's name in
// itself and its messages, from po/, from the data block #messages.
/* global WASM, WORKER */
'use strict';

(() => {
	// How much of the file the page hands over at a time, where the
	// worker cannot read it where it lies.
	const CHUNK = 16 * 1024 * 1024;

	const $ = (id) => document.getElementById(id);
	const input = $('file');
	const drop = $('drop');
	const busy = $('busy');
	const step = $('step');
	const progress = $('progress');
	const cancel = $('cancel');
	const result = $('result');
	const language = $('language');
	const LANGUAGES = JSON.parse($('messages').textContent);

	// The reader's language: the first of the browser's list that the page
	// speaks, until the reader picks another; a tag with a region (pt-BR)
	// takes that region's catalog where there is one (pt_BR), else its
	// language's (de-AT: de).  English is the messages' own.
	let messages = {};
	let plural = (n) => (n === 1 ? 0 : 1);
	const names = {en: 'English', ...Object.fromEntries(Object.entries(
		LANGUAGES).map(([code, l]) => [code, l.name]))};
	// A catalog's code (pt_BR) as a language tag (pt-BR).
	const tag = (code) => code.replace('_', '-');
	function preferred() {
		const codes = Object.keys(names);
		for (const asked of navigator.languages || [navigator.language]) {
			const wanted = String(asked).toLowerCase();
			const code = codes.find((c) => tag(c).toLowerCase() === wanted) ||
				codes.find((c) => c === wanted.split('-')[0]);
			if (code)
				return code;
		}
		return 'en';
	}

	// A message in the reader's language, each %s filled in turn; an
	// argument that is a message, [format, ...args], is put in it first.
	// A format [singular, plural] takes the form that its first argument,
	// a count, asks for by the language's rule.
	function t(format, ...args) {
		let text = messages[format] || format;
		if (Array.isArray(format)) {
			const forms = messages[format[0]];
			text = Array.isArray(forms) ? forms[plural(Number(args[0]))] :
				format[Number(args[0]) === 1 ? 0 : 1];
			args = args.slice(1);
		}
		let i = 0;
		return text.replace(/%s/g, () => {
			const arg = args[i++];
			return Array.isArray(arg) ? t(...arg) : String(arg);
		});
	}
	const m = (format, ...args) => [format, ...args];
	const tn = (singular, plural, count, ...args) =>
		t([singular, plural], count, ...args);
	const say = (message) => (Array.isArray(message) ? t(...message) :
		message);
	// A message the installer says on a terminal, in lower case and
	// without a full stop, as a sentence of the page.
	function sentence(message) {
		const text = say(message);
		const first = text.charAt(0).toLocaleUpperCase(
			document.documentElement.lang);
		return first + text.slice(1) + (/[.:!?]$/.test(text) ? '' : '.');
	}

	// The page's own texts, marked data-t, by their English (the element's
	// markup, its spaces collapsed); a translation may hold <code> and
	// <strong> as the English does, and nothing else is read as markup.
	const texts = [...document.querySelectorAll('[data-t]')].map((e) =>
		[e, e.innerHTML.replace(/\s+/g, ' ').trim()]);
	function markup(text) {
		const nodes = [];
		let inner = null;
		for (const part of text.split(/(<\/?(?:code|strong)>)/)) {
			const tag = /^<(\/?)(\w+)>$/.exec(part);
			if (tag) {
				inner = tag[1] ? null : document.createElement(tag[2]);
				if (inner)
					nodes.push(inner);
			} else if (inner) {
				inner.append(part);
			} else if (part) {
				nodes.push(part);
			}
		}
		return nodes;
	}

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

	let urls = [];

	// One image: the line tovrin-fw prints (its own words, in any
	// language), its size and SHA-256, and a control that saves it as
	// tovrin-fw.bin.  Its URL is made once, and kept while it is shown.
	function image(found, label) {
		if (!found.url) {
			found.url = URL.createObjectURL(new Blob([found.image],
				{type: 'application/octet-stream'}));
			urls.push(found.url);
		}
		return element('div', {className: 'image'},
			element('p', {}, `found firmware in \`${found.path}' at offset ${
				hex(found.offset)}`),
			// TRANSLATORS: the image's size; its SHA-256 follows.
			element('p', {}, tn('%s byte, SHA-256', '%s bytes, SHA-256',
				found.image.length, found.image.length), ' ',
				element('span', {className: 'sum'}, found.sum)),
			element('p', {}, element('a', {className: 'save', href: found.url,
				download: 'tovrin-fw.bin'}, label)));
	}

	function next(several) {
		return element('div', {className: 'next'},
			element('h2', {}, t('Next, on the computer the modem is connected ' +
				'to')),
			element('ol', {},
				element('li', {},
					t('Copy tovrin-fw.bin over, and install it as root ' +
						"where the kernel's firmware loader looks for it:"),
					command('install -D -m 0644 tovrin-fw.bin ' +
						'/lib/firmware/tovrin-fw.bin'),
					// TRANSLATORS: a file name; a command.
					...(several ? [element('p', {}, t('The browser may save ' +
						'a second file under another name, such as %s: ' +
						'install it under the name tovrin-fw.bin all the ' +
						'same, as in %s.', 'tovrin-fw(1).bin',
					"install -D -m 0644 'tovrin-fw(1).bin' " +
						'/lib/firmware/tovrin-fw.bin'))] : [])),
				element('li', {},
					t('Plug the modem in (again), then run this as root to ' +
						'see whether the kernel loaded the firmware:'),
					command('dmesg | grep -i firmware'))));
	}

	// What the worker found, in the order tovrin-fw-install says it: what
	// was left out, then the images and their save controls; or the
	// refusal, as an alert.  Returns what takes the focus.
	function show(name, r) {
		const notes = paragraphs((r.notes || []).map(sentence));
		if (r.refusal) {
			const failed = element('div', {className: 'failed', role: 'alert',
				tabIndex: -1}, ...notes, element('p', {}, sentence(r.refusal)));
			result.append(failed);
			return failed;
		}
		const several = r.images.length > 1;
		const images = r.images.map((found) => image(found, several ?
			// TRANSLATORS: %s is the driver's path in the package.
			t('Save tovrin-fw.bin from %s', found.path) :
			t('Save tovrin-fw.bin')));
		// The focus on what was found, past the notes.
		const first = several ? element('p', {}, sentence(m("the drivers in " +
			"`%s' hold different images: save the one from the folder named " +
			'for the newest version of Windows', name))) : r.same ?
			element('p', {}, sentence(r.same)) : images[0];
		first.tabIndex = -1;
		result.append(...(notes.length ? [element('div', {className: 'notes'},
			...notes)] : []), ...(first === images[0] ? [] : [first]),
			...images, next(several));
		return first;
	}

	// What the result says, kept so that it can be said again in another
	// language; and the step the worker is at.
	let shown = null;
	let doing = null;
	function tell(what) {
		shown = what;
		const first = what();
		first.focus();
		first.scrollIntoView({block: 'start'});
	}

	// Everything the page says, in the language code names.
	function speak(code) {
		messages = LANGUAGES[code]?.messages || {};
		plural = PLURALS[code] || ((n) => (n === 1 ? 0 : 1));
		document.documentElement.lang = tag(code);
		for (const [e, english] of texts)
			e.replaceChildren(...markup(t(english)));
		if (doing)
			step.textContent = say(doing);
		if (shown) {
			result.replaceChildren();
			shown();
		}
	}
	for (const [code, name] of Object.entries(names))
		language.append(element('option', {value: code, lang: tag(code)}, name));
	language.value = preferred();
	speak(language.value);
	language.addEventListener('change', () => speak(language.value));

	let worker = null;
	let chosen = '';

	function finish(state) {
		worker?.terminate();
		worker = null;
		doing = null;
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
		shown = null;
		result.replaceChildren();
		result.setAttribute('aria-busy', 'true');
		document.body.dataset.state = 'busy';
		input.disabled = true;
		doing = ['Reading %s', file.name];
		step.textContent = say(doing);
		progress.removeAttribute('value');
		busy.hidden = false;
		cancel.focus();

		const w = worker = new Worker(script);
		const fail = (why) => {
			if (w !== worker)
				return;
			// TRANSLATORS: the file's name; the browser's reason, in English,
			// or "the page's reader stopped unexpectedly".
			tell(() => show(file.name, {refusal: m("cannot read `%s': %s",
				file.name, why)}));
			finish('done');
		};
		w.onerror = (e) => {
			e.preventDefault();
			fail(e.message || m("the page's reader stopped unexpectedly"));
		};
		w.onmessage = ({data}) => {
			if (w !== worker)
				return;
			if (data.step) {
				doing = data.step;
				step.textContent = say(doing);
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
				tell(() => show(file.name, data.done));
				finish('done');
			}
		};
		try {
			w.postMessage({file, code: await code});
		} catch (e) {
			fail(String(e.message || e));
		}
	}

	cancel.addEventListener('click', () => {
		finish('ready');
		const from = chosen;
		shown = () => result.appendChild(element('p', {},
			// TRANSLATORS: %s is the file's name.
			t("Stopped: nothing was taken from `%s'.", from)));
		shown();
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
