// Builds the page as one file: index.html with the style, both
// WebAssembly modules (base64), the worker's script (7-Zip's module and
// worker.js, as a string the page starts its worker from) and page.js
// inlined, the page's messages in each language (from the build's checked
// catalogs, LANG.po) as data, and 7-Zip's license texts.  The page's Content-Security-Policy
// allows exactly these inline scripts and style, by their SHA-256, workers
// from the page's own blob: URLs, and no connection at all.
// The output depends on its inputs alone, so two builds give one file.
//
//   node build.mjs OUT LOCATOR_WASM NODE_MODULES VERSION [LANG.po...]
import {createHash} from 'node:crypto';
import {readFileSync, writeFileSync} from 'node:fs';
import {basename, dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const [out, locator, modules, version, ...catalogs] = process.argv.slice(2);
if (!version) {
	console.error('usage: node build.mjs OUT LOCATOR_WASM NODE_MODULES VERSION');
	process.exit(64);
}
const here = dirname(fileURLToPath(import.meta.url));
const source = (name) => readFileSync(join(here, name), 'utf8');
const sevenZip = (name) => readFileSync(join(modules, '7z-wasm', name));
// An HTML parser reads every line end as LF: so must the hashes below.
const lf = (text) => text.replace(/\r\n?/g, '\n');

// A catalog's messages, {msgid: msgstr}, a message with a count as
// {msgid: [msgstr[0], msgstr[1], ...]}; its language's name in itself (the
// header's X-Language-Name); and its rule for the forms (Plural-Forms),
// the text of a function.  The build merged it with the page's messages
// alone, and checked that each is translated.
function catalog(file) {
	const messages = {};
	let entry = {};
	let field = null;
	const done = () => {
		if (entry.msgid !== undefined)
			messages[entry.msgid] = entry.forms || entry.msgstr;
		entry = {};
	};
	const set = (key, text) => {
		const form = /^msgstr\[(\d+)\]$/.exec(key);
		if (form)
			(entry.forms ||= [])[form[1]] = text;
		else
			entry[key] = text;
	};
	let key = null;
	for (const line of readFileSync(file, 'utf8').split('\n')) {
		const m = /^(msgid|msgid_plural|msgstr(?:\[\d+\])?) (".*")$/.exec(line);
		if (m && m[1] === 'msgid')
			done();
		if (m) {
			key = m[1];
			field = JSON.parse(m[2]);
			set(key, field);
		} else if (/^"/.test(line) && key) {
			field += JSON.parse(line);
			set(key, field);
		} else {
			key = null;
		}
	}
	done();
	const header = messages[''];
	delete messages[''];
	const name = /^X-Language-Name: (.*)$/m.exec(header)?.[1];
	if (!name)
		throw new Error(`${file}: no X-Language-Name in its header`);
	// The rule is C's syntax, which is JavaScript's too; anything else
	// than a count, numbers and operators would be code of the catalog's
	// in the page, which runs none.
	const rule = /^Plural-Forms: *nplurals=\d+; *plural=(.*?);?$/m.exec(header)?.[1];
	if (!rule || !/^[n\d\s()?:%<>=!&|+*/-]+$/.test(rule))
		throw new Error(`${file}: no Plural-Forms rule of n alone in its header`);
	// The page reads <code> and <strong> in a translation as markup, as
	// in the English, and nothing else.
	const tags = (text) => (text.match(/<[^>]*>/g) || []).join();
	for (const [id, text] of Object.entries(messages)) {
		for (const form of [text].flat()) {
			if (tags(id) !== tags(form))
				throw new Error(`${file}: other markup than the English's in ` +
					`the translation of: ${id}`);
		}
	}
	return {name, messages, plural: `(n) => Number(${rule})`};
}
const languages = Object.fromEntries(catalogs.map((file) =>
	[basename(file, '.po'), catalog(file)]));
// Each language's rule for the forms, as code of the page's own script.
const plurals = `{${Object.entries(languages).map(([code, l]) =>
	`${JSON.stringify(code)}: ${l.plural}`).join(', ')}}`;
for (const l of Object.values(languages))
	delete l.plural;
// The messages as a JSON data block, which no engine runs as a script:
// parsed when the page starts, they cost it nothing measurable, where
// beside the base64 in a script they made it ready a third later.  In
// ASCII, and without a "<", so that nothing in it reads as markup.
const messages = JSON.stringify(languages).replace(/[^\x00-\x7f]|</g,
	(c) => `\\u${c.charCodeAt(0).toString(16).padStart(4, '0')}`);

const worker = `${lf(sevenZip('7zz.umd.js').toString())}\n${source('worker.js')}`;
const scripts = [
	`const WASM = ${JSON.stringify({
		sevenZip: sevenZip('7zz.wasm').toString('base64'),
		locator: readFileSync(locator).toString('base64'),
	})};\nconst WORKER = ${JSON.stringify(worker)};\n` +
		`const PLURALS = ${plurals};`,
	source('page.js'),
];
const style = source('page.css');
for (const text of [...scripts, style]) {
	if (/<\/(script|style)|<!--/i.test(text))
		throw new Error('an inlined text would end its element early');
}

const hash = (text) =>
	`'sha256-${createHash('sha256').update(text).digest('base64')}'`;
const csp = [
	"default-src 'none'",
	`script-src 'wasm-unsafe-eval' ${scripts.map(hash).join(' ')}`,
	`style-src ${hash(style)}`,
	'worker-src blob:',
	'img-src data:',
	"form-action 'none'",
	"base-uri 'none'",
].join('; ');

const escape = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;');
const licenses = ['License.txt', 'unRarLicense.txt']
	.map((name) => `<pre>${escape(lf(sevenZip(name).toString()))}</pre>`)
	.join('\n');

// Functions as replacements: the scripts hold $ signs, which a string
// replacement would read as patterns.
const page = source('index.html')
	.replace('@CSP@', () => csp)
	.replace('@VERSION@', () => escape(version))
	.replace('@STYLE@', () => `<style>${style}</style>`)
	.replace('@LICENSES@', () => licenses)
	.replace('@SCRIPTS@', () => [
		`<script type="application/json" id="messages">${messages}</script>`,
		...scripts.map((s) => `<script>${s}</script>`)].join('\n'));
writeFileSync(out, page);
