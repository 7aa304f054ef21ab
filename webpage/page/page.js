// The station's live page: the state pushed over a WebSocket, the chart drawn
// as the program's chart window draws it (the last ten minutes, newest at the
// left; the scale from "От" to "До"; limits dashed orange, marks blue).
"use strict";

const token = new URLSearchParams(location.search).get("token") || "";
const slots = new Map(); // tenth of a second -> [lowest, highest]
let state = null;

const curveColour = "rgb(128,0,0)";
const limitColour = "rgb(230,120,0)";
const markColour = "rgb(0,0,200)";
const lineMarkColour = "rgb(220,0,0)";

function text(id, value) {
  const element = document.getElementById(id);
  if (element.textContent !== value)
    element.textContent = value;
}

// The value and its age grey, as what is no longer live.
function stale(yes) {
  for (const id of ["value", "unit", "age"])
    document.getElementById(id).classList.toggle("stale", yes);
}

function show() {
  const last = state.last;
  if (last && last.c !== null) {
    text("value", last.c.toFixed(1));
    const age = Math.max(0, (state.now - last.t) / 1000);
    text("age", age < 1.5 ? "сейчас" : Math.round(age) + " с назад");
  }
  const line = document.getElementById("line");
  const bad = state.running && last !== null && last.line !== "ok";
  let said = "";
  if (!state.running)
    said = last ? "запись остановлена" : "";
  else if (bad)
    said = state.lineMark;
  else if (last)
    said = "связь с прибором есть";
  text("line", said);
  line.dataset.state = !state.running ? "stopped" : (last ? last.line : "");
  line.className = bad ? "bad" : "";
  stale(!state.running);
  text("alarm", state.running && last && last.alarm ? last.alarm : "");
  text("runstate", state.runState);
  text("folder", state.folder ? "Папка: " + state.folder : "");
  text("comment", state.comment);
  draw();
}

function draw() {
  const canvas = document.getElementById("chart");
  const W = canvas.width = canvas.clientWidth * (window.devicePixelRatio || 1);
  const H = canvas.height = canvas.clientHeight * (window.devicePixelRatio || 1);
  const g = canvas.getContext("2d");
  const x0 = Math.floor(W / 10), x1 = Math.floor(9 * W / 10), y0 = Math.floor(H / 10), y1 = Math.floor(9 * H / 10);
  const lo = state.scale[0], hi = state.scale[1], range = hi - lo;
  g.fillStyle = "#fff";
  g.fillRect(0, 0, W, H);
  g.font = Math.max(11, Math.round(H / 40)) + "px sans-serif";
  g.strokeStyle = "#000";
  g.fillStyle = "#000";
  g.lineWidth = 1;
  g.textBaseline = "alphabetic";
  for (let i = 0; i <= 10; ++i) {
    const y = y1 - Math.floor(4 * i * H / 50) + 0.5;
    g.beginPath(); g.moveTo(x0, y); g.lineTo(x1, y); g.stroke();
    g.textAlign = "left";
    g.fillText((i * range * 0.1 + lo).toFixed(0), 5, y);
    const x = x1 - Math.floor(4 * i * W / 50) + 0.5;
    g.beginPath(); g.moveTo(x, y0); g.lineTo(x, y1); g.stroke();
    g.textAlign = "center";
    g.textBaseline = "top";
    g.fillText(String(i), x0 + Math.floor(4 * i * W / 50), y1 + 5);
    g.textBaseline = "alphabetic";
  }
  g.textBaseline = "top";
  g.textAlign = "right";
  g.fillText("t,минут", W - W / 40, 19 * H / 20);
  g.textAlign = "left";
  g.fillText("T,гр.C", 15, 5);
  if (state.last && state.last.c !== null) {
    g.fillStyle = curveColour;
    const current = "Текущ. темп.  " + state.last.c.toFixed(1);
    g.fillText(current, W / 4, 5);
    if (state.last.line !== "ok") {
      g.fillStyle = lineMarkColour;
      g.fillText(state.lineMark, W / 4 + g.measureText(current + "  ").width, 5);
    }
  }
  if (range === 0)
    return count(g, W, H);
  const nowTenth = Math.floor(state.now / 100);
  const xOf = (tenth) => W * ((nowTenth - tenth) / 10) * 4 / 3000 + x0;
  const yOf = (t) => y1 - ((t - lo) * 4 * H) / (range * 5);
  g.save();
  g.beginPath(); g.rect(x0, y0, x1 - x0, y1 - y0); g.clip();
  g.strokeStyle = curveColour;
  g.lineWidth = 2;
  g.beginPath();
  let previous = null;
  for (const tenth of [...slots.keys()].sort((a, b) => b - a)) {
    const [low, high] = slots.get(tenth);
    const x = xOf(tenth);
    if (x > x1 + 2)
      break;
    // More than 3 s without a reading is a gap: it stays open.
    if (previous === null || previous - tenth > 30)
      g.moveTo(x, yOf(high));
    else
      g.lineTo(x, yOf(high));
    if (low !== high)
      g.lineTo(x, yOf(low));
    previous = tenth;
  }
  g.stroke();
  g.lineWidth = 1;
  g.setLineDash([6, 4]);
  g.strokeStyle = limitColour;
  for (const limit of state.limits) {
    const y = Math.round(yOf(limit)) + 0.5;
    g.beginPath(); g.moveTo(x0, y); g.lineTo(x1, y); g.stroke();
  }
  g.setLineDash([]);
  g.strokeStyle = markColour;
  g.fillStyle = markColour;
  g.textAlign = "left";
  for (const [at, label] of state.marks) {
    const x = Math.round(xOf(Math.floor(at / 100))) + 0.5;
    if (x < x0 || x > x1)
      continue;
    g.beginPath(); g.moveTo(x, y0); g.lineTo(x, y1); g.stroke();
    g.fillText(label, x + 2, y0 + 2);
  }
  if (state.last && state.last.alarm) {
    g.fillStyle = lineMarkColour;
    g.textBaseline = "bottom";
    g.fillText(state.last.alarm, x0 + 4, y1 - 4);
  }
  g.restore();
  count(g, W, H);
}

// How many pixels the drawing left other than white, and how many in the
// curve's colour: for whoever checks that the chart shows.
function count(g, W, H) {
  const pixels = g.getImageData(0, 0, W, H).data;
  let drawn = 0, curve = 0;
  for (let i = 0; i < pixels.length; i += 4) {
    if (pixels[i] !== 255 || pixels[i + 1] !== 255 || pixels[i + 2] !== 255)
      ++drawn;
    if (pixels[i] === 128 && pixels[i + 1] === 0 && pixels[i + 2] === 0)
      ++curve;
  }
  const canvas = document.getElementById("chart");
  canvas.dataset.drawn = String(drawn);
  canvas.dataset.curve = String(curve);
}

function take(message) {
  state = JSON.parse(message);
  if (state.reset)
    slots.clear(); // the clock was set: the ten minutes start again
  for (const [tenth, low, high] of state.slots)
    slots.set(tenth, [low, high]);
  const oldest = Math.floor(state.now / 100) - 6000;
  for (const tenth of slots.keys())
    if (tenth < oldest)
      slots.delete(tenth);
  show();
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss:" : "ws:";
  const socket = new WebSocket(scheme + "//" + location.host + "/live?token=" + encodeURIComponent(token));
  socket.onopen = () => text("connection", "");
  socket.onmessage = (event) => take(event.data);
  socket.onclose = () => {
    text("connection", "нет связи с программой, повтор…");
    text("line", "нет связи с программой");
    document.getElementById("line").dataset.state = "away";
    stale(true);
    slots.clear();
    setTimeout(connect, 2000);
  };
}

window.addEventListener("resize", () => { if (state) draw(); });
connect();
