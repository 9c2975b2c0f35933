// The review of a game in the page: progress while the server judges the
// moves, then a board of its own to step through the game with the move
// played and the engine's best drawn as arrows, the move list with its marks,
// the best line and the evaluation graph.
import {Chessboard, COLOR} from "./node_modules/cm-chessboard/src/Chessboard.js"
import {Arrows, ARROW_TYPE} from "./node_modules/cm-chessboard/src/extensions/arrows/Arrows.js"
import {Markers, MARKER_TYPE} from "./node_modules/cm-chessboard/src/extensions/markers/Markers.js"
import {ANIMATION_MS} from "./game_view.js"
import {element} from "./dom.js"

const MARKS = {inaccuracy: "?!", mistake: "?", blunder: "??"}
const PLAYED_ARROW = {
    good: ARROW_TYPE.secondary, inaccuracy: ARROW_TYPE.info, mistake: ARROW_TYPE.warning, blunder: ARROW_TYPE.danger
}
const POLL_MS = 300

let view = null       // the panel, built once
let review = null     // the server's finished review
let ply = 0           // the move shown
let generation = 0    // a newer review stops the polling of an older one

function stylesheet(href) {
    if (document.querySelector(`link[href="${href}"]`)) return
    const link = document.createElement("link")
    link.rel = "stylesheet"
    link.href = href
    document.head.append(link)
}

function buildView() {
    stylesheet("node_modules/cm-chessboard/assets/extensions/arrows/arrows.css")
    stylesheet("review.css")
    const section = element("section")
    section.id = "review-view"
    element("h2", "", section, "Review")
    const progress = element("p", "rv-progress", section)
    const bar = element("progress", "rv-bar", section)
    const body = element("div", "rv-body", section)
    const left = element("div", "rv-left", body)
    const boardDiv = element("div", "rv-board", left)
    const nav = element("div", "rv-nav", left)
    const buttons = {}
    for (const [name, label, title] of [["first", "«", "first move (Home)"], ["prev", "‹", "previous move (←)"],
                                        ["next", "›", "next move (→)"], ["last", "»", "last move (End)"]]) {
        buttons[name] = element("button", `rv-${name}`, nav, label)
        buttons[name].title = title
    }
    const caption = element("p", "rv-caption", left)
    const line = element("p", "rv-line", left)
    const moves = element("ol", "rv-moves", body)
    const graph = element("div", "rv-graph", section)
    const summary = element("pre", "rv-summary", section)
    document.querySelector("main").after(section)
    const board = new Chessboard(boardDiv, {
        assetsUrl: "node_modules/cm-chessboard/assets/",
        style: {pieces: {file: "pieces/standard.svg"}, animationDuration: ANIMATION_MS},
        extensions: [{class: Arrows}, {class: Markers}]
    })
    buttons.first.addEventListener("click", () => go(0))
    buttons.prev.addEventListener("click", () => go(ply - 1))
    buttons.next.addEventListener("click", () => go(ply + 1))
    buttons.last.addEventListener("click", () => go(Infinity))
    moves.addEventListener("click", event => {
        const item = event.target.closest("[data-ply]")
        if (item) go(Number(item.dataset.ply))
    })
    graph.addEventListener("click", event => clickGraph(event))
    document.addEventListener("keydown", onKey)
    return {section, progress, bar, body, left, board, caption, line, moves, graph, summary}
}

function onKey(event) {
    if (!review || view.section.hidden || event.target.closest("input, select, textarea")) return
    const to = {ArrowLeft: ply - 1, ArrowRight: ply + 1, Home: 0, End: Infinity}[event.key]
    if (to === undefined) return
    event.preventDefault()
    go(to)
}

// "15. Bxd7+" or "15... Nxd7"
function label(m) {
    return `${m.number}${m.side === "white" ? "." : "..."} ${m.san}`
}

// The best line in SAN with its move numbers, from the move's position.
function lineText(m) {
    let number = m.number
    let white = m.side === "white"
    return m.best_line.map((san, i) => {
        const text = white ? `${number}. ${san}` : (i === 0 ? `${number}... ${san}` : san)
        if (!white) number++
        white = !white
        return text
    }).join(" ")
}

function movesList(moves) {
    view.moves.replaceChildren()
    let row = null
    moves.forEach((m, i) => {
        if (m.side === "white" || !row) {
            row = element("li", "", view.moves)
            row.value = m.number
            if (m.side === "black") element("span", "rv-gap", row, "…")
        }
        const item = element("span", `rv-move rv-${m.judgement || "pending"}`, row, m.san)
        item.dataset.ply = i
        const mark = MARKS[m.judgement]
        if (mark) element("span", "rv-mark", item, mark)
    })
}

function clickGraph(event) {
    const svg = view.graph.querySelector("svg")
    if (!svg || !review) return
    const point = svg.createSVGPoint()
    point.x = event.clientX
    point.y = event.clientY
    const x = point.matrixTransform(svg.getScreenCTM().inverse()).x
    let nearest = 0
    let distance = Infinity
    svg.querySelectorAll("circle[data-ply]").forEach(c => {
        const d = Math.abs(Number(c.getAttribute("cx")) - x)
        if (d < distance) [nearest, distance] = [Number(c.dataset.ply), d]
    })
    go(nearest)
}

// The graph's cursor: a line through the point of the move shown.
function graphCursor() {
    const svg = view.graph.querySelector("svg")
    const point = svg && svg.querySelector(`circle[data-ply="${ply}"]`)
    if (!point) return
    let cursor = svg.querySelector(".rv-cursor")
    if (!cursor) {
        cursor = document.createElementNS("http://www.w3.org/2000/svg", "line")
        cursor.setAttribute("class", "rv-cursor")
        svg.querySelector("polyline")?.before(cursor)
    }
    const rect = svg.querySelector("rect[stroke]")
    cursor.setAttribute("x1", point.getAttribute("cx"))
    cursor.setAttribute("x2", point.getAttribute("cx"))
    cursor.setAttribute("y1", rect ? rect.getAttribute("y") : 0)
    cursor.setAttribute("y2", rect ? Number(rect.getAttribute("y")) + Number(rect.getAttribute("height")) : 0)
    svg.querySelectorAll("circle.rv-current").forEach(c => c.classList.remove("rv-current"))
    point.classList.add("rv-current")
}

function go(to) {
    if (!review || !review.moves.length) return
    ply = Math.max(0, Math.min(review.moves.length - 1, to))
    const m = review.moves[ply]
    const board = view.board
    board.removeArrows()
    board.removeMarkers()
    if (m.best_coord !== m.coord) board.addArrow(ARROW_TYPE.success, m.best_coord.slice(0, 2), m.best_coord.slice(2, 4))
    board.addArrow(m.best_coord === m.coord ? ARROW_TYPE.success : PLAYED_ARROW[m.judgement],
                   m.coord.slice(0, 2), m.coord.slice(2, 4))
    board.addMarker(MARKER_TYPE.square, m.coord.slice(0, 2))
    board.addMarker(MARKER_TYPE.square, m.coord.slice(2, 4))
    // The position the move led to, as players expect; the arrows say what was played and what was best.
    board.setPosition(m.fen_after, false).then(() => { view.section.dataset.ply = String(ply) })
    const mark = MARKS[m.judgement] ? ` ${MARKS[m.judgement]} ${m.judgement}, loss ${(m.loss / 100).toFixed(1)}` : ""
    const best = m.best_coord === m.coord ? "the engine's best" : `best: ${m.best}`
    view.caption.textContent = `${label(m)}${mark} (White ${m.eval}); ${best}`
    view.caption.className = `rv-caption rv-${m.judgement}`
    view.line.textContent = m.best_line.length ? `Best line: ${lineText(m)}` : ""
    view.moves.querySelectorAll(".rv-move.rv-current").forEach(e => e.classList.remove("rv-current"))
    const item = view.moves.querySelector(`[data-ply="${ply}"]`)
    item.classList.add("rv-current")
    item.scrollIntoView({block: "nearest"})
    graphCursor()
}

function showDone(answer, color) {
    review = answer
    view.bar.hidden = true
    view.left.hidden = false
    view.progress.textContent = `Every move judged at depth ${answer.depth} in ${answer.seconds.toFixed(0)} s.`
    view.body.hidden = false
    view.board.setOrientation(color === "black" ? COLOR.black : COLOR.white)
    view.graph.innerHTML = answer.svg
    view.summary.textContent = answer.summary
    movesList(answer.moves)
    const firstMarked = answer.moves.findIndex(m => m.judgement !== "good")
    go(firstMarked < 0 ? 0 : firstMarked)
}

// While the review runs: a bar, and the move list with each mark as soon as its move is judged.
function showProgress(answer) {
    const left = answer.seconds_left === null ? "" : `, about ${Math.ceil(answer.seconds_left)} s left`
    view.progress.textContent = `Reviewing: ${answer.done} of ${answer.total} moves judged${left}…`
    view.bar.hidden = false
    view.bar.max = Math.max(1, answer.total)
    view.bar.value = answer.done
    if (answer.moves && answer.moves.length) {
        view.body.hidden = false
        view.left.hidden = true  // the board comes with the finished review
        movesList(answer.moves)
    }
}

export function hideReview() { if (view) view.section.hidden = true }

// The answer of a review call: a review running (asked again with `again`
// until it is done) or finished; the board is seen from `color`.
export async function showReview(answer, color, again) {
    view = view || buildView()
    const mine = ++generation
    review = null
    view.section.hidden = false
    view.body.hidden = true
    view.graph.replaceChildren()
    view.summary.textContent = ""
    delete view.section.dataset.ply
    try {
        while (answer.status === "running") {
            showProgress(answer)
            await new Promise(resolve => setTimeout(resolve, POLL_MS))
            if (mine !== generation) return
            answer = await again()
        }
        if (mine === generation) showDone(answer, color)
    } catch (error) {
        if (mine === generation) view.progress.textContent = `No review: ${error.message}`
    }
}
