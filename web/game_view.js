// The game on the page: the board (moves by drag or click, legal-move dots,
// the last move marked, the hint framed), the move list, stepping through
// the moves, and the clocks. It shows states the server sends; it knows no
// chess rules of its own (the legal moves come with each state).
import {Chessboard, COLOR, FEN, INPUT_EVENT_TYPE} from "./node_modules/cm-chessboard/src/Chessboard.js"
import {Markers, MARKER_TYPE} from "./node_modules/cm-chessboard/src/extensions/markers/Markers.js"
import {PromotionDialog} from "./node_modules/cm-chessboard/src/extensions/promotion-dialog/PromotionDialog.js"

const $ = id => document.getElementById(id)

// Pieces slide unless the person asked their system for less motion.
export const ANIMATION_MS = matchMedia("(prefers-reduced-motion: reduce)").matches ? 0 : 300

function clockText(ms) {
    const s = Math.max(0, Math.ceil(ms / 1000))
    if (ms < 10000) return `0:${String(Math.floor(Math.max(0, ms) / 1000)).padStart(2, "0")}.${Math.floor(Math.max(0, ms) / 100) % 10}`
    return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, "0")}`
}

export class GameView {
    // onMove(coord) plays a move; onSay(text) tells the person something.
    constructor({onMove, onSay}) {
        this.onMove = onMove
        this.onSay = onSay
        this.state = null
        this.ply = null          // the move shown while stepping back; null: the game as it stands
        this.inputOn = false
        this.clock = null        // {white_ms, black_ms, running, since}
        this.board = new Chessboard($("board"), {
            position: FEN.start,
            assetsUrl: "node_modules/cm-chessboard/assets/",
            style: {pieces: {file: "pieces/standard.svg"}, animationDuration: ANIMATION_MS},
            extensions: [{class: Markers, props: {autoMarkers: null}}, {class: PromotionDialog}]
        })
        $("moves").addEventListener("click", event => {
            const ply = event.target.dataset && event.target.dataset.ply
            if (ply !== undefined) this.goTo(parseInt(ply, 10))
        })
        setInterval(() => this.tickClocks(), 200)
    }

    // A new state from the server: the game as it stands.
    show(state) {
        this.state = state
        this.ply = null
        $("step-note").textContent = ""
        this.clearHint()
        this.drawPosition()
        this.drawMoves()
        this.setClocks(state)
    }

    // Whether the person may move on the board now.
    setInput(on) {
        this.inputOn = on
        this.board.disableMoveInput()
        const s = this.state
        if (on && s && this.ply === null && !s.result && s.legal.length)
            this.board.enableMoveInput(event => this.onInput(event), s.color === "white" ? COLOR.white : COLOR.black)
    }

    orient(color) { this.board.setOrientation(color === "white" ? COLOR.white : COLOR.black) }
    flip() { this.board.setOrientation(this.board.getOrientation() === COLOR.white ? COLOR.black : COLOR.white) }

    // The player's move in the list before the server has answered (in coordinates: the page knows no SAN).
    showPending(coord) {
        const pending = document.createElement("span")
        pending.className = "pending"
        pending.textContent = `${coord.slice(0, 2)}-${coord.slice(2)}`
        const items = $("moves").querySelectorAll("li")
        const last = items[items.length - 1]
        const whiteToMove = this.state.turn === "white"
        if (whiteToMove || !last) {
            const li = document.createElement("li")
            li.innerHTML = `<span class="number">${this.nextNumber()}.</span> `
            if (!whiteToMove) li.insertAdjacentHTML("beforeend", `<span class="ellipsis">…</span> `)
            li.append(pending)
            $("moves").append(li)
        } else {
            last.append(" ", pending)
        }
    }

    nextNumber() { return parseInt(this.state.fen.split(" ")[5] || "1", 10) }

    showHint(move) {
        this.clearHint()
        this.board.addMarker(MARKER_TYPE.framePrimary, move.slice(0, 2))
        this.board.addMarker(MARKER_TYPE.framePrimary, move.slice(2, 4))
    }

    clearHint() {
        this.board.removeMarkers(MARKER_TYPE.framePrimary)
        $("hint-text").textContent = ""
    }

    // Stepping: the position after move `ply` (0: the start), or back to the game.
    step(delta) {
        if (!this.state) return
        const last = this.state.moves.length
        this.goTo(Math.min(last, Math.max(0, (this.ply === null ? last : this.ply) + delta)))
    }

    goTo(ply) {
        if (!this.state) return
        this.ply = ply >= this.state.moves.length ? null : ply
        this.drawPosition()
        this.drawMoves()
        this.setInput(this.inputOn)
        $("step-note").textContent = this.ply === null ? ""
            : `Showing move ${this.ply} of ${this.state.moves.length}: → and End go forward, ← and Home back.`
    }

    // The squares of a move just made on the board, before the server has it.
    markMove(coord) {
        this.board.removeMarkers(MARKER_TYPE.square)
        this.board.addMarker(MARKER_TYPE.square, coord.slice(0, 2))
        this.board.addMarker(MARKER_TYPE.square, coord.slice(2, 4))
    }

    drawPosition() {
        const s = this.state
        const ply = this.ply === null ? s.moves.length : this.ply
        const fen = s.positions[ply]
        // The board's data-fen says when the pieces have arrived (for the test).
        this.board.setPosition(fen, true).then(() => { $("board").dataset.fen = fen })
        const last = s.moves_coord[ply - 1]
        if (last) this.markMove(last)
        else this.board.removeMarkers(MARKER_TYPE.square)
    }

    drawMoves() {
        const s = this.state
        const parts = s.start_fen.split(" ")
        let number = parseInt(parts[5] || "1", 10)
        const whiteFirst = parts[1] !== "b"
        const current = this.ply === null ? s.moves.length : this.ply
        const items = []
        let line = []
        s.moves.forEach((san, i) => {
            const whiteMove = whiteFirst ? i % 2 === 0 : i % 2 === 1
            if (!whiteMove && !line.length) line.push(`<span class="ellipsis">…</span>`)
            const cls = i + 1 === current ? ` class="current"` : ""
            line.push(`<span data-ply="${i + 1}"${cls}>${san}</span>`)
            if (!whiteMove) {
                items.push(`<li><span class="number">${number++}.</span> ${line.join(" ")}</li>`)
                line = []
            }
        })
        if (line.length) items.push(`<li><span class="number">${number}.</span> ${line.join(" ")}</li>`)
        $("moves").innerHTML = items.join("")
    }

    setClocks(state) {
        const c = state.time && state.time.clock
        $("clocks").hidden = !c
        if (!c) {
            this.clock = null
            return
        }
        // Each side's first move is free: the clocks stand still until both have moved.
        this.clock = {...c, running: state.result || !c.runs ? null : state.turn, since: performance.now()}
        this.tickClocks()
    }

    // The side's time as the clocks show it now; Infinity without clocks.
    timeLeft(side) {
        const c = this.clock
        if (!c) return Infinity
        return c[`${side}_ms`] - (c.running === side ? performance.now() - c.since : 0)
    }

    tickClocks() {
        const c = this.clock
        if (!c || !this.state) return
        const left = side => this.timeLeft(side)
        const you = this.state.color, persona = you === "white" ? "black" : "white"
        $("clock-you").textContent = `You ${clockText(left(you))}`
        $("clock-persona").textContent = `${this.state.persona} ${clockText(left(persona))}`
        $("clock-you").classList.toggle("running", c.running === you)
        $("clock-persona").classList.toggle("running", c.running === persona)
    }

    unpick() {
        this.board.removeMarkers(MARKER_TYPE.frame)
        this.board.removeLegalMovesMarkers()
    }

    // The board's moves: dots on the squares the piece can go to, a word when a move is not legal.
    onInput(event) {
        const s = this.state
        if (event.type === INPUT_EVENT_TYPE.moveInputStarted) {
            const moves = s.legal.filter(m => m.startsWith(event.squareFrom))
            if (!moves.length) {
                this.onSay("That piece has no legal move.")
                return false
            }
            this.board.addMarker(MARKER_TYPE.frame, event.squareFrom)
            this.board.addLegalMovesMarkers(moves.map(m => ({to: m.slice(2, 4), promotion: m[4]})))
            return true
        }
        if (event.type === INPUT_EVENT_TYPE.moveInputCanceled || event.type === INPUT_EVENT_TYPE.moveInputFinished) {
            this.unpick()
            return
        }
        if (event.type !== INPUT_EVENT_TYPE.validateMoveInput) return
        this.unpick()
        const base = event.squareFrom + event.squareTo
        const matches = s.legal.filter(m => m.startsWith(base))
        if (!matches.length) {
            this.onSay(`${event.squareFrom}-${event.squareTo} is not a legal move here.`)
            return false
        }
        if (matches[0].length === 5) {
            this.board.showPromotionDialog(event.squareTo, s.color === "white" ? COLOR.white : COLOR.black, result => {
                if (result && result.piece) this.onMove(base + result.piece.charAt(1))
                else this.board.setPosition(s.fen)
            })
        } else {
            this.onMove(base)
        }
        return true
    }
}
