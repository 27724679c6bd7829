// The page's script: sends files to this service and shows what it says.
'use strict';

const $ = (id) => document.getElementById(id);

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

// Sends `file` to `path` as a form, reporting the upload's progress; the
// answer as a Blob with its headers.
function send(path, file, progress) {
  return new Promise((resolve, reject) => {
    const xhr = new XMLHttpRequest();
    xhr.open('POST', path);
    xhr.responseType = 'blob';
    if (progress) {
      xhr.upload.onprogress = (e) => progress(e.lengthComputable ? e.loaded / e.total : null, false);
      xhr.upload.onload = () => progress(1, true);
    }
    xhr.onload = () => resolve({ status: xhr.status, body: xhr.response, header: (n) => xhr.getResponseHeader(n) });
    xhr.onerror = () => reject(new Error('the service could not be reached'));
    const form = new FormData();
    form.append('file', file, file.name);
    xhr.send(form);
  });
}

// The command's message of a refusal (problem details), or the status.
async function refusal(answer) {
  try {
    const problem = JSON.parse(await answer.body.text());
    return problem.detail || problem.title;
  } catch (e) {
    return 'the service answered ' + answer.status;
  }
}

function query(format, member) {
  let q = '?to=' + encodeURIComponent(format);
  if (member) q += '&member=' + encodeURIComponent(member);
  return q;
}

// The file name of an answer's Content-Disposition (its RFC 5987 form first).
function dispositionName(answer, fallback) {
  const value = answer.header('Content-Disposition') || '';
  const encoded = /filename\*=UTF-8''([^;]+)/i.exec(value);
  if (encoded) return decodeURIComponent(encoded[1]);
  const plain = /filename="([^"]*)"/i.exec(value);
  return plain ? plain[1] : fallback;
}

function damagedNote(answer) {
  const damaged = answer.header('Mwconv-Damaged');
  return damaged ? decodeURIComponent(damaged) : '';
}

async function download(file, member, format, where) {
  where.textContent = 'Converting…';
  const answer = await send('/convert' + query(format, member), file);
  if (answer.status !== 200) {
    where.textContent = await refusal(answer);
    where.className = 'message';
    return;
  }
  where.textContent = damagedNote(answer);
  where.className = 'note';
  const link = element('a');
  link.href = URL.createObjectURL(answer.body);
  link.download = dispositionName(answer, 'converted');
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

async function preview(file, member, title, where) {
  where.textContent = 'Converting…';
  const answer = await send('/convert' + query('html', member), file);
  if (answer.status !== 200) {
    where.textContent = await refusal(answer);
    where.className = 'message';
    return;
  }
  where.textContent = '';
  const note = damagedNote(answer);
  $('viewer-note').textContent = note;
  $('viewer-note').hidden = !note;
  $('viewer-title').textContent = 'Preview: ' + title;
  // A frame with every sandbox restriction: no script of the document runs.
  $('preview').srcdoc = await answer.body.text();
  $('viewer').hidden = false;
  $('viewer').scrollIntoView({ behavior: 'smooth', block: 'start' });
}

function dates(created, modified) {
  const parts = [];
  if (created) parts.push('created ' + created.replace('T', ' '));
  if (modified) parts.push('modified ' + modified.replace('T', ' '));
  return parts.length ? parts.join(', ') : 'no Finder dates';
}

function counts(paragraphs) {
  const parts = [];
  for (const part of ['main', 'header', 'footer'])
    if (paragraphs && paragraphs[part] !== undefined) parts.push(paragraphs[part] + ' ' + part);
  return parts.length ? 'paragraphs: ' + parts.join(', ') : '';
}

// One document: what it is, and its buttons.
function documentRow(file, line) {
  const member = line.member || '';
  const title = member || file.name;
  const row = element('li', 'doc');
  row.dataset.name = title;
  const what = element('div', 'what');
  what.appendChild(element('div', 'name', title));
  const facts = element('div', 'facts');
  facts.appendChild(element('span', 'generation', line.generation));
  const finder = line.macbinary ? dates(line.macbinary.created, line.macbinary.modified) : dates(line.created, line.modified);
  facts.appendChild(document.createTextNode(' · ' + finder + ' · ' + counts(line.paragraphs)));
  what.appendChild(facts);
  const status = element('p', 'note', line.damaged ? 'damaged: ' + line.damaged : '');
  what.appendChild(status);
  const actions = element('div', 'actions');
  const show = element('button', 'preview', 'Preview');
  show.type = 'button';
  show.addEventListener('click', () => preview(file, member, title, status).catch((e) => { status.textContent = e.message; }));
  const get = element('button', 'download', 'Download');
  get.type = 'button';
  get.addEventListener('click', () => download(file, member, $('format').value, status).catch((e) => { status.textContent = e.message; }));
  actions.append(show, get);
  row.append(what, actions);
  return row;
}

async function describe(file, card, lines) {
  // A wrapper of one document (.bin, .hqx) answers with that document, not a zip.
  const container = lines.some((l) => l.member);
  const docs = element('ul', 'docs');
  for (const line of lines) if (line.macwrite) docs.appendChild(documentRow(file, line));
  card.appendChild(docs);
  const problems = lines.filter((l) => l.problem).map((l) => (l.member || file.name) + ': ' + l.problem);
  const message = element('p', 'message', problems.join('\n'));
  card.appendChild(message);
  if (!docs.children.length) {
    // Nothing to convert: the command's own words say why.
    const answer = await send('/convert?to=text', file);
    message.textContent = answer.status === 200 ? '' : await refusal(answer);
    return;
  }
  if (container) {
    const all = element('button', 'download-all', 'Download everything as one zip');
    all.type = 'button';
    const state = element('p', 'note');
    all.addEventListener('click', () => download(file, '', $('format').value, state).catch((e) => { state.textContent = e.message; }));
    card.append(all, state);
  }
}

async function add(file) {
  const card = element('li', 'file');
  card.appendChild(element('div', 'file-name', file.name));
  const bar = element('progress');
  bar.max = 1;
  const state = element('div', 'state', 'Uploading…');
  card.append(bar, state);
  $('list').appendChild(card);
  try {
    const answer = await send('/identify', file, (fraction, done) => {
      if (fraction === null) bar.removeAttribute('value');
      else bar.value = fraction;
      if (done) state.textContent = 'Reading…';
    });
    bar.remove();
    if (answer.status !== 200) {
      state.textContent = '';
      card.appendChild(element('p', 'message', await refusal(answer)));
      return;
    }
    const text = await answer.body.text();
    const lines = text.split('\n').filter((l) => l).map((l) => JSON.parse(l));
    const found = lines.filter((l) => l.macwrite).length;
    state.textContent = found === 1 ? '1 MacWrite document' : found + ' MacWrite documents';
    await describe(file, card, lines);
  } catch (e) {
    bar.remove();
    state.textContent = e.message;
  }
}

function addAll(files) {
  for (const file of files) add(file);
}

async function start() {
  const select = $('format');
  const names = { text: 'Text', markdown: 'Markdown', html: 'HTML', rtf: 'RTF', docx: 'Word (DOCX)',
    odt: 'OpenDocument (ODT)', stream: 'internal stream', macwrite5: 'MacWrite 4.6/5' };
  for (const format of await (await fetch('/formats')).json()) {
    const option = element('option', '', names[format] || format);
    option.value = format;
    if (format === 'docx') option.selected = true;
    select.appendChild(option);
  }
  $('files').addEventListener('change', (e) => { addAll(e.target.files); e.target.value = ''; });
  const drop = $('drop');
  drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (e) => {
    e.preventDefault();
    drop.classList.remove('over');
    addAll(e.dataTransfer.files);
  });
  $('version').textContent = (await (await fetch('/version')).text()).trim();
}

document.addEventListener('DOMContentLoaded', start);
