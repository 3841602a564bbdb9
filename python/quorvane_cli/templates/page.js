'use strict';
const config = JSON.parse(document.getElementById('config').textContent);
const body = document.querySelector('#pairs tbody');
const rows = [...body.rows];
const details = [...document.querySelectorAll('article.pair')];
const showing = document.querySelector('.showing');

// Filters: the page opens on the pairs beyond their limits.
const filterTexts = {failed: 'the pairs beyond their limits', all: 'every pair'};
for (const button of document.querySelectorAll('[data-filter]')) {
  button.addEventListener('click', () => {
    const filter = button.dataset.filter;
    for (const other of document.querySelectorAll('[data-filter]'))
      other.setAttribute('aria-pressed', String(other === button));
    for (const element of [...rows, ...details])
      element.hidden = filter === 'failed' ? element.dataset.passed === 'true'
        : filter !== 'all' && element.dataset.status !== filter;
    const label = button.querySelector('.label').textContent;
    showing.textContent = `Showing ${filterTexts[filter] || 'the pairs ' + label}` +
      (filter === 'all' ? '.' : '; the buttons above show the others.');
  });
}

for (const header of document.querySelectorAll('#pairs th[data-sort]')) {
  header.querySelector('button').addEventListener('click', () => {
    const ascending = header.getAttribute('aria-sort') !== 'ascending';
    for (const other of header.parentElement.cells) other.removeAttribute('aria-sort');
    header.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
    const column = header.cellIndex, numeric = header.dataset.sort === 'number';
    const key = row => row.cells[column].dataset.value ?? row.cells[column].textContent;
    rows.sort((a, b) => {
      const order = numeric ? Number(key(a)) - Number(key(b)) : key(a).localeCompare(key(b));
      return ascending ? order : -order;
    });
    body.append(...rows);
  });
}

// Views. Full-size images load when their view is first shown.
function showView(article, number) {
  const views = article.querySelectorAll('.view');
  if (views.length < number) return;
  const shown = article.querySelector(`.view[data-view="${number}"]`);
  if (number === 5 && !shown.hidden) {
    const stack = shown.querySelector('.flip');
    stack.dataset.showing = stack.dataset.showing === 'current' ? 'baseline' : 'current';
    const other = stack.dataset.showing === 'current' ? 'baseline' : 'current';
    shown.querySelector('.flip-shown').innerHTML =
      `Showing the <strong>${stack.dataset.showing}</strong> image; Flip again (or 5) for the ${other}.`;
  }
  for (const view of views) view.hidden = view !== shown;
  for (const image of shown.querySelectorAll('img[data-src]')) {
    image.src = image.dataset.src;
    image.removeAttribute('data-src');
  }
  for (const button of article.querySelectorAll('[data-show]'))
    button.setAttribute('aria-pressed', String(Number(button.dataset.show) === number));
}
for (const button of document.querySelectorAll('[data-show]'))
  button.addEventListener('click', () => showView(button.closest('article'), Number(button.dataset.show)));

function reveal(input) {
  input.closest('.view').querySelector('.slider').style.setProperty('--reveal', `${input.value}%`);
}
for (const input of document.querySelectorAll('input.reveal')) {
  input.addEventListener('input', () => reveal(input));
  const stack = input.closest('.view').querySelector('.slider');
  const drag = event => {
    if (!(event.buttons & 1)) return;
    const box = stack.getBoundingClientRect();
    input.value = Math.round(100 * Math.min(Math.max((event.clientX - box.left) / box.width, 0), 1));
    reveal(input);
  };
  stack.addEventListener('pointerdown', drag);
  stack.addEventListener('pointermove', drag);
}
for (const input of document.querySelectorAll('input.opacity'))
  input.addEventListener('input', () =>
    input.closest('.view').querySelector('.blend').style.setProperty('--opacity', String(input.value / 100)));

// Keys: j/k move between the pairs shown, 1-5 switch views, a/u accept and undo.
let current = null;
function select(article) {
  if (current) current.classList.remove('current');
  current = article;
  article.classList.add('current');
  article.focus({preventScroll: true});
  article.scrollIntoView({block: 'start'});
}
document.addEventListener('keydown', event => {
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  if (event.target.matches('input[type=range], input[type=text], textarea')) return;
  const shown = details.filter(article => !article.hidden);
  const at = shown.indexOf(current);
  if (event.key === 'j' || event.key === 'k') {
    const next = shown[event.key === 'j' ? at + 1 : (at < 0 ? 0 : at - 1)];
    if (next) select(next);
  } else if (/^[1-5]$/.test(event.key) && current) {
    showView(current, Number(event.key));
  } else if ((event.key === 'a' || event.key === 'u') && current) {
    const actions = current.querySelector('.actions');
    if (!actions) return;
    if (config.served) actions.querySelector(event.key === 'a' ? '.accept' : '.undo').click();
    else {
      const box = actions.querySelector('input.accept');
      box.checked = event.key === 'a';
      box.dispatchEvent(new Event('change', {bubbles: true}));
    }
  } else return;
  event.preventDefault();
});
for (const article of details)
  article.addEventListener('click', () => { if (current !== article) select(article); });

function quoted(word) {
  return /^[\w@%+=:,./-]+$/.test(word) ? word : `'${word.replaceAll("'", `'"'"'`)}'`;
}

if (config.served) {
  // Accept writes the baseline at once; Undo puts the previous bytes back.
  async function send(action, actions) {
    const state = actions.querySelector('.state');
    const response = await fetch(`/${action}?token=${encodeURIComponent(config.token)}`, {
      method: 'POST', headers: {'Content-Type': 'application/json'},
      body: JSON.stringify({pair: actions.dataset.name}),
    });
    const answer = await response.json().catch(() => ({accepted: false, message: response.statusText}));
    state.textContent = answer.message;
    actions.closest('article').classList.toggle('accepted', Boolean(answer.accepted));
    actions.querySelector('.undo').disabled = !answer.accepted;
  }
  for (const actions of document.querySelectorAll('.actions')) {
    actions.querySelector('.accept').addEventListener('click', () => send('accept', actions));
    actions.querySelector('.undo').addEventListener('click', () => send('undo', actions));
  }
} else {
  // Opened as a file the page cannot write: it builds the command that does.
  const command = document.getElementById('command');
  const folder = location.protocol === 'file:'
    ? decodeURIComponent(new URL('.', location.href).pathname).replace(/(.)\/$/, '$1') : 'RESULTS';
  const ticked = () => [...document.querySelectorAll('.actions')]
    .filter(actions => actions.querySelector('input.accept').checked);
  function update() {
    const chosen = ticked();
    const missing = chosen.some(actions => actions.closest('article').dataset.status === 'missing');
    command.textContent = chosen.length
      ? ['quorvane', 'approve', folder, ...(missing ? ['--delete-missing'] : []),
         ...chosen.map(actions => actions.dataset.name)].map(quoted).join(' ')
      : '(no pair ticked yet)';
  }
  document.addEventListener('change', event => {
    if (!event.target.matches('input.accept')) return;
    event.target.closest('article').classList.toggle('accepted', event.target.checked);
    update();
  });
  document.getElementById('copy').addEventListener('click', async () => {
    const said = document.getElementById('copied');
    try {
      await navigator.clipboard.writeText(command.textContent);
      said.textContent = 'Copied.';
    } catch {
      getSelection().selectAllChildren(command);
      said.textContent = document.execCommand('copy') ? 'Copied.' : 'Select the command and copy it.';
    }
  });
  document.getElementById('download').addEventListener('click', () => {
    const approvals = {format: 'quorvane approvals', version: 1,
                       pairs: ticked().map(actions => actions.dataset.name)};
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([JSON.stringify(approvals, null, 1)], {type: 'application/json'}));
    link.download = 'approvals.json';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 0);
  });
  update();
}
