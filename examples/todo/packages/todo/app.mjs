// The to-do list: its own title bar (drag, minimise, close), items kept in
// local storage, each with a GUID from window.security.
const STORE = "todo.items";

function load() {
  try {
    return JSON.parse(localStorage.getItem(STORE)) || [];
  } catch {
    return [];
  }
}

let items = load();

function save() {
  localStorage.setItem(STORE, JSON.stringify(items));
}

function render() {
  const list = document.getElementById("items");
  list.replaceChildren(...items.map(item => {
    const row = document.createElement("li");
    row.className = item.done ? "done" : "";
    const box = document.createElement("input");
    box.type = "checkbox";
    box.checked = item.done;
    box.onchange = () => { item.done = box.checked; save(); render(); };
    const text = document.createElement("span");
    text.textContent = item.text;
    const remove = document.createElement("button");
    remove.textContent = "Remove";
    remove.onclick = () => { items = items.filter(other => other.id !== item.id); save(); render(); };
    row.append(box, text, remove);
    return row;
  }));
  winhelper.setWindowTitle(`To-do (${items.filter(item => !item.done).length})`);
}

document.getElementById("add").onsubmit = event => {
  event.preventDefault();
  const input = document.getElementById("text");
  if (!input.value.trim()) return;
  items.push({id: security.createGuid(), text: input.value.trim(), done: false});
  input.value = "";
  save();
  render();
};

// The window is frameless: the title bar moves it, the buttons do the rest.
document.getElementById("title-bar").addEventListener("mousedown", event => {
  if (event.target.tagName !== "BUTTON") winhelper.dragWindow();
});
document.getElementById("minimize").onclick = () => winhelper.showWindow("minimize");
document.getElementById("close").onclick = () => app.exit();
// A second start brings the running window forward.
app.onForegroundPreInstance = () => { winhelper.showWindow("show"); winhelper.bringWindowToTop(); };

const v = app.version;
document.getElementById("versions").textContent =
    `program ${v.major}.${v.minor}.${v.build} · pages ${app.getQbunVersion("todo")}`;
render();
winhelper.setWindowSizeLimit({width: 320, height: 240}, undefined);
winhelper.setWindowPosition({width: 420, height: 560});
// Hidden until now: show the window once the page is ready.
winhelper.showWindow("show");
console.log("todo ready");
