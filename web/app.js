// The page of `ai-players serve`: a board, the persona picker and the game's
// controls, all talking to the server's JSON API.
import {Chessboard, COLOR, FEN, INPUT_EVENT_TYPE} from "./node_modules/cm-chessboard/src/Chessboard.js"
import {Markers, MARKER_TYPE} from "./node_modules/cm-chessboard/src/extensions/markers/Markers.js"
import {PromotionDialog} from "./node_modules/cm-chessboard/src/extensions/promotion-dialog/PromotionDialog.js"
import {showReview} from "./review_view.js"

const $ = id => document.getElementById(id)
const board = new Chessboard($("board"), {
    position: FEN.start,
    assetsUrl: "node_modules/cm-chessboard/assets/",
    style: {pieces: {file: "pieces/standard.svg"}},
    extensions: [{class: Markers}, {class: PromotionDialog}]
})
let game = null        // the server's last answer about the game
let waiting = false    // a request is out; the board takes no moves meanwhile

async function api(method, path, body) {
    const response = await fetch(path, {
        method,
        headers: body ? {"Content-Type": "application/json"} : {},
        body: body ? JSON.stringify(body) : undefined
    })
    const data = await response.json()
    if (!response.ok) throw new Error(data.error || response.statusText)
    return data
}

function movesHtml(state) {
    const parts = state.start_fen.split(" ")
    let number = parseInt(parts[5] || "1", 10)
    let blackFirst = parts[1] === "b"
    const items = []
    let line = ""
    state.moves.forEach((san, i) => {
        const whiteMove = blackFirst ? i % 2 === 1 : i % 2 === 0
        if (whiteMove) {
            line = `${san}`
        } else {
            items.push(`<li value="${number}">${line || "…"} ${san}</li>`)
            line = ""
            number++
        }
    })
    if (line) items.push(`<li value="${number}">${line}</li>`)
    return items.join("")
}

function markLastMove(coord) {
    board.removeMarkers(MARKER_TYPE.square)
    if (!coord) return
    board.addMarker(MARKER_TYPE.square, coord.slice(0, 2))
    board.addMarker(MARKER_TYPE.square, coord.slice(2, 4))
}

function show(state, note) {
    game = state
    // The board's data-fen says when the pieces have arrived (for the test).
    board.setPosition(state.fen, true).then(() => { $("board").dataset.fen = state.fen })
    markLastMove(state.moves_coord[state.moves_coord.length - 1])
    $("moves").innerHTML = movesHtml(state)
    const over = state.result
    if (over) {
        let text = `Game over: ${over.result} (${over.termination})`
        if (over.comment) text += `. ${over.comment}`
        $("status").textContent = text
    } else if (state.thinking) {
        $("status").textContent = `${state.persona} is thinking…`
    } else {
        $("status").textContent = note ? `${note} Your move.` : "Your move."
    }
    $("hint").disabled = !!over || state.legal.length === 0
    $("undo").disabled = !state.moves.length
    $("resign").disabled = !!over
    $("review").disabled = !state.moves.length
    $("pgn").href = `/api/games/${state.id}/pgn`
    $("pgn").classList.remove("disabled")
    board.disableMoveInput()
    if (!over && state.legal.length)
        board.enableMoveInput(onInput, state.color === "white" ? COLOR.white : COLOR.black)
}

function failed(error) {
    waiting = false
    $("status").textContent = error.message
    if (game) board.setPosition(game.fen)
}

function replyNote(state) {
    if (!state.reply) return ""
    let note = `${state.persona} played ${state.reply.san}.`
    if (state.reply.note) note += ` (${state.reply.note})`
    return note
}

async function sendMove(coord) {
    waiting = true
    board.disableMoveInput()
    $("hint-text").textContent = ""
    $("preview").textContent = ""
    $("status").textContent = `${game.persona} is thinking…`
    try {
        const state = await api("POST", `/api/games/${game.id}/moves`, {move: coord})
        waiting = false
        $("preview").textContent = state.preview ? state.preview.text : ""
        show(state, replyNote(state))
    } catch (error) {
        failed(error)
    }
}

function onInput(event) {
    if (waiting || !game) return false
    if (event.type === INPUT_EVENT_TYPE.moveInputStarted)
        return game.legal.some(m => m.startsWith(event.squareFrom))
    if (event.type !== INPUT_EVENT_TYPE.validateMoveInput) return
    const base = event.squareFrom + event.squareTo
    const matches = game.legal.filter(m => m.startsWith(base))
    if (!matches.length) return false
    if (matches[0].length === 5) {
        board.showPromotionDialog(event.squareTo, game.color === "white" ? COLOR.white : COLOR.black, result => {
            if (result && result.piece) sendMove(base + result.piece.charAt(1))
            else board.setPosition(game.fen)
        })
    } else {
        sendMove(base)
    }
    return true
}

async function newGame(submit) {
    submit.preventDefault()
    if (game && !game.result) api("DELETE", `/api/games/${game.id}`).catch(() => {})
    const color = $("color").value
    const fen = $("fen").value.trim()
    board.disableMoveInput()
    board.setOrientation(color === "white" ? COLOR.white : COLOR.black)
    $("preview").textContent = ""
    $("hint-text").textContent = ""
    $("review-out").hidden = true
    $("status").textContent = `Starting ${$("persona").value}…`
    waiting = true
    try {
        const state = await api("POST", "/api/games", {persona: $("persona").value, color, fen: fen || undefined})
        waiting = false
        show(state, replyNote(state))
    } catch (error) {
        failed(error)
    }
}

async function simple(action) {
    if (!game || waiting) return
    waiting = true
    try {
        const state = await api("POST", `/api/games/${game.id}/${action}`)
        waiting = false
        $("preview").textContent = ""
        show(state)
    } catch (error) {
        failed(error)
    }
}

async function hint() {
    if (!game || waiting) return
    waiting = true
    $("hint-text").textContent = "Looking…"
    try {
        const h = await api("GET", `/api/games/${game.id}/hint`)
        $("hint-text").textContent = h.text
        board.removeMarkers(MARKER_TYPE.frame)
        board.addMarker(MARKER_TYPE.frame, h.move.slice(0, 2))
        board.addMarker(MARKER_TYPE.frame, h.move.slice(2, 4))
    } catch (error) {
        $("hint-text").textContent = error.message
    }
    waiting = false
}

async function review() {
    if (!game || waiting) return
    waiting = true
    const before = $("status").textContent
    $("status").textContent = "Reviewing every move…"
    try {
        $("review-out").hidden = true
        showReview(await api("POST", `/api/games/${game.id}/review`), game, api)
    } catch (error) {
        $("review-summary").textContent = error.message
        $("review-out").hidden = false
    }
    $("status").textContent = before
    waiting = false
}

async function loadPersonas() {
    const personas = await api("GET", "/api/personas")
    const select = $("persona")
    for (const p of personas) {
        const option = document.createElement("option")
        option.value = p.name
        option.textContent = p.strength ? `${p.name} (${p.strength})` : p.name
        select.append(option)
    }
    select.value = "Diana"
}

$("setup").addEventListener("submit", newGame)
$("hint").addEventListener("click", hint)
$("undo").addEventListener("click", () => simple("undo"))
$("resign").addEventListener("click", () => simple("resign"))
$("review").addEventListener("click", review)
loadPersonas().catch(error => { $("status").textContent = `No personas: ${error.message}` })

// For the browser test.
window.aiPlayers = {board, game: () => game}
